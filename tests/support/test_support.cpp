#include "support/test_support.h"

#include "test_config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string data_path(const std::string& name) { return std::string(POINTFALL_TEST_DATA_DIR) + "/" + name; }

std::string real_data_path(const std::string& name) { return std::string(POINTFALL_REAL_DATA_DIR) + "/" + name; }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pointfall-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace testing_support
