#pragma once
#include <stdexcept>
#include <string>

// The core never shows a message box. It throws one of these and the
// caller (a main-window slot or the batch runner) shows or prints the text.

// An action whose preconditions are not met ("Please open a terrain model
// first!" and the like). Nothing was changed.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be read, or input that makes no sense. The message
// names the file and the offending line or value.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be written as asked (for example a LAS coordinate that
// does not fit the format), or that the system would not let us write (a
// full disk, a read-only folder): the message names the file and the
// reason. An existing file of that name was left as it was.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
