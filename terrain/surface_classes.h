#pragma once
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// ASPRS classes of the model's triangles, taken from the names a model file
// gives its parts (an OBJ material, object or group name).

// Class 1 ("unclassified"): what a triangle without a known name gets.
constexpr std::uint8_t kUnclassified = 1;

struct ClassKeyword {
    std::string word;  // lower case
    std::uint8_t classCode = kUnclassified;
};
using ClassTable = std::vector<ClassKeyword>;

// ground/terrain 2, vegetation/forest/tree 5, building/roof/wall 6,
// water 9, road 11, bridge 17.
const ClassTable& default_class_table();

// The class of a part name: the name is cut into words (runs of letters or
// digits, a lower-case letter followed by a capital also starting a new
// word, so "BuildingWall" is "building" "wall"), compared without case.
// The first word equal to a keyword, or to a keyword with an "s" added,
// decides ("RoadWall" is a road, "TreeGroup" vegetation); a name without a
// keyword is class 1. An empty table means the default one.
std::uint8_t class_of_name(const std::string& name, const ClassTable& table);

// Reads a table from a text file: one "keyword class" pair per line (class
// 0..255), blank lines and lines starting with '#' skipped. Throws
// InputError naming the file and the line when a line is not such a pair,
// or when the file cannot be read or holds no pair.
ClassTable read_class_table(const QString& fileName);
