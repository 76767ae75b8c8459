#pragma once
#include <string>

// Numbers in text files are written as a C++ stream writes a double by
// default: %g with six significant digits ("123.457", "500", "3.5e+06",
// "-1e-05"). These produce exactly that text, without a stream.

// Appends the text of `value` to `out`.
void append_g6(std::string& out, double value);
std::string format_g6(double value);
