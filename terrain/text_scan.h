#pragma once
// Small helpers shared by the model readers: whole-file reading and number
// parsing without streams (the readers must take a million-triangle model in
// a second or two).
#include <QString>

#include <charconv>
#include <cstdint>
#include <string>

namespace terrain_text {

// Reads the whole file into `out`. False when it cannot be opened or read.
bool read_whole_file(const QString& fileName, std::string& out);

inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A number whose magnitude is beyond a double: too small reads as 0 (the
// stream's answer), too large is refused.
bool parse_out_of_range_double(const char* b, const char* e, double& out);

// A double in any form that stream extraction takes: optional sign (a '+'
// as well, which from_chars refuses), digits with an optional point and an
// optional exponent. No "inf", "nan" or hexadecimal. The whole range
// [b, e) must be the number.
inline bool parse_double(const char* b, const char* e, double& out) {
    if (b != e && *b == '+') {
        ++b;
        if (b != e && *b == '-') return false;
    }
    const char* d = (b != e && *b == '-') ? b + 1 : b;
    if (d == e || !(is_digit(*d) || *d == '.')) return false;
    const auto r = std::from_chars(b, e, out, std::chars_format::general);
    if (r.ptr != e) return false;
    if (r.ec == std::errc::result_out_of_range) return parse_out_of_range_double(b, e, out);
    return r.ec == std::errc();
}

// A decimal integer with an optional sign ('+' included); the whole range
// [b, e) must be the number and it must fit the type.
template <typename Int>
inline bool parse_integer(const char* b, const char* e, Int& out) {
    if (b != e && *b == '+') {
        ++b;
        if (b == e || !is_digit(*b)) return false;
    }
    const auto r = std::from_chars(b, e, out, 10);
    return r.ec == std::errc() && r.ptr == e;
}

// The offending text of an error message, cut to a readable length.
std::string quoted_excerpt(const char* b, const char* e);

}  // namespace terrain_text
