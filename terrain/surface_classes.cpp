#include "terrain/surface_classes.h"

#include "app/failure.h"
#include "terrain/text_scan.h"

#include <cctype>

const ClassTable& default_class_table() {
    static const ClassTable table = {
        {"ground", 2},   {"terrain", 2}, {"vegetation", 5}, {"forest", 5}, {"tree", 5},  {"building", 6},
        {"roof", 6},     {"wall", 6},    {"water", 9},      {"road", 11},  {"bridge", 17},
    };
    return table;
}

namespace {

inline bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
inline bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
inline bool is_word_char(char c) { return is_lower(c) || is_upper(c) || terrain_text::is_digit(c); }

bool matches(const std::string& word, const std::string& keyword) {
    if (word == keyword) return true;
    return word.size() == keyword.size() + 1 && word.back() == 's' && word.compare(0, keyword.size(), keyword) == 0;
}

}  // namespace

std::uint8_t class_of_name(const std::string& name, const ClassTable& given) {
    const ClassTable& table = given.empty() ? default_class_table() : given;
    std::string word;
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        while (i < n && !is_word_char(name[i])) ++i;
        word.clear();
        while (i < n && is_word_char(name[i])) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
            ++i;
            if (i < n && is_upper(name[i]) && is_lower(name[i - 1])) break;  // camelCase boundary
        }
        if (word.empty()) continue;
        for (const ClassKeyword& k : table) {
            if (matches(word, k.word)) return k.classCode;
        }
    }
    return kUnclassified;
}

ClassTable read_class_table(const QString& fileName) {
    const std::string name = fileName.toStdString();
    std::string text;
    if (!terrain_text::read_whole_file(fileName, text))
        throw InputError("Cannot open the class table \"" + name + "\" for reading.");
    ClassTable table;
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        ++lineNumber;
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const char* b = text.data() + pos;
        const char* e = text.data() + end;
        pos = end + 1;
        while (b != e && terrain_text::is_space(*b)) ++b;
        while (e != b && terrain_text::is_space(e[-1])) --e;
        if (b == e || *b == '#') continue;
        const char* wordEnd = b;
        while (wordEnd != e && !terrain_text::is_space(*wordEnd)) ++wordEnd;
        const char* number = wordEnd;
        while (number != e && terrain_text::is_space(*number)) ++number;
        int code = -1;
        bool wordOk = true;
        for (const char* c = b; c != wordEnd; ++c) wordOk = wordOk && is_word_char(*c);
        if (!wordOk || number == e || !terrain_text::parse_integer(number, e, code) || code < 0 || code > 255) {
            throw InputError("Class table \"" + name + "\", line " + std::to_string(lineNumber) +
                             ": expected a keyword (letters and digits) and a class 0..255, but it reads " +
                             terrain_text::quoted_excerpt(b, e) + ".");
        }
        std::string word(b, wordEnd);
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        table.push_back(ClassKeyword{word, static_cast<std::uint8_t>(code)});
    }
    if (table.empty()) throw InputError("Class table \"" + name + "\" holds no \"keyword class\" line.");
    return table;
}
