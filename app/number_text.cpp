#include "app/number_text.h"

#include <charconv>

void append_g6(std::string& out, double value) {
    char buffer[32];
    // General format with precision 6 follows printf("%g"): trailing zeros
    // and a trailing point are dropped, the exponent has at least two digits.
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    out.append(buffer, result.ptr);
}

std::string format_g6(double value) {
    std::string s;
    append_g6(s, value);
    return s;
}
