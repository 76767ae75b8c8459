#pragma once
// Places where a write fails, for the failed-write tests.
#include "support/test_support.h"

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A folder "<tmpfs>/out" where every new write fails, holding the given
// files (name -> bytes), put there before it was made to fail:
//  - Full: a 64 KiB tmpfs whose last block a filler file beside "out" takes
//    ("No space left on device");
//  - ReadOnly: a tmpfs remounted read-only ("Read-only file system"), or,
//    for a user other than root where mounting is not allowed, a folder
//    without write permission ("Permission denied").
// The tmpfs is mounted in a mount namespace of the test's own (unshare), so
// nothing stays mounted however the test program ends; the namespace holds
// for the calling thread and the processes it starts. Where it cannot be
// made, unavailable() tells why and the test skips with that.
class FailingFolder {
public:
    enum Kind { Full, ReadOnly };
    FailingFolder(Kind kind, const std::map<std::string, std::string>& existing);
    ~FailingFolder();
    FailingFolder(const FailingFolder&) = delete;
    FailingFolder& operator=(const FailingFolder&) = delete;

    // Empty when the folder is ready.
    const std::string& unavailable() const { return unavailable_; }
    const std::string& path() const { return out_; }
    std::string file(const std::string& name) const { return out_ + "/" + name; }
    // The system's text for the failure expected in this folder.
    std::string reason() const;

private:
    std::string prepare(Kind kind, const std::map<std::string, std::string>& existing);

    TempDir dir_;
    std::string mount_;
    std::string out_;
    std::string unavailable_;
    bool mounted_ = false;
    int error_ = 0;
};

// The names in a folder, sorted (hidden ones included).
std::vector<std::string> folder_entries(const std::string& folder);

}  // namespace testing_support
