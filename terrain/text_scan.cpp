#include "terrain/text_scan.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <locale>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace terrain_text {

bool read_whole_file(const QString& fileName, std::string& out) {
    out.clear();
    const QByteArray localName = QFile::encodeName(fileName);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(localName.constData(), "rb"), &std::fclose);
    if (!file) return false;
    // A folder opens on some systems but has no text to read.
    struct stat info;
    if (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    std::size_t expected = 0;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(file.get());
        if (size > 0) expected = static_cast<std::size_t>(size);
        std::rewind(file.get());
    }
    // Read in big blocks until the end (one byte more than the expected size,
    // so that the end is seen at once); also right for files whose size cannot
    // be told in advance.
    constexpr std::size_t kBlock = 1 << 20;
    out.resize(expected + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == out.size()) out.resize(out.size() + std::max(kBlock, out.size() / 2));
        const std::size_t got = std::fread(&out[used], 1, out.size() - used, file.get());
        used += got;
        if (got == 0) break;
    }
    const bool failed = std::ferror(file.get()) != 0;
    out.resize(used);
    return !failed;
}

bool parse_out_of_range_double(const char* b, const char* e, double& out) {
    // Rare enough to ask a stream (in the C locale) what it makes of it.
    std::istringstream in(std::string(b, e));
    in.imbue(std::locale::classic());
    double value = 0.0;
    if (!(in >> value)) return false;
    out = value;
    return true;
}

std::string quoted_excerpt(const char* b, const char* e) {
    constexpr std::ptrdiff_t kMax = 40;
    std::string s = "\"";
    if (e - b > kMax) {
        s.append(b, b + kMax);
        s += "...";
    } else {
        s.append(b, e);
    }
    s += '"';
    return s;
}

}  // namespace terrain_text
