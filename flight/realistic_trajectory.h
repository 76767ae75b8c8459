#pragma once
#include "flight/parameters.h"

#include <cstdint>
#include <array>
#include <vector>

// The realistic trajectory: periodic terms added to the pulse origins
// (sets 0..2: x, y, z, metres) and to the attitude (sets 3..5: roll, pitch,
// yaw, degrees). A set holds four terms A, B, C, D.

enum TrajectorySet : int {
    kTermsX = 0,
    kTermsY = 1,
    kTermsZ = 2,
    kTermsRoll = 3,
    kTermsPitch = 4,
    kTermsYaw = 5,
};

// A * cos(B * t) + C * sin(D * t). Terms missing from a short set read as 0.
double term(const std::vector<double>& set, double t);

// Seeds the process-wide uniform source with `seed`, then flips the sign of
// A, B, C and D, in this order, each on its own draw r: times -1 when
// r < 16384, else times +1. Only the first four terms are touched.
void randomise_term_signs(std::vector<double>& set, std::uint32_t seed);

// Copies set `index` of `terms` into `out` (reusing its storage), padded
// with zeros to four terms; a missing set gives four zeros.
void copy_term_set(const TrajectoryTerms& terms, int index, std::vector<double>& out);

// Three consecutive sets from `first` (x, y, z or roll, pitch, yaw), each
// copied afresh and re-signed with the run's seed, in that order.
using TermSetTriple = std::array<std::vector<double>, 3>;
void fresh_term_sets(const TrajectoryTerms& terms, int first, std::uint32_t seed, TermSetTriple& sets);
