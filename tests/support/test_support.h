#pragma once
#include <string>

namespace testing_support {

// A file under tests/data.
std::string data_path(const std::string& name);
// A file of the real-world models shipped beside the project (shared/data/real).
std::string real_data_path(const std::string& name);

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

}  // namespace testing_support
