#include "app/uniform_source.h"

namespace {
CExampleGenerator g_default_generator;
UniformSource* g_source = &g_default_generator;
}  // namespace

UniformSource& uniform_source() { return *g_source; }

void install_uniform_source(UniformSource* source) {
    if (source) {
        g_source = source;
    } else {
        g_default_generator = CExampleGenerator();
        g_source = &g_default_generator;
    }
}

std::uint32_t CExampleGenerator::jump(std::uint32_t state, std::uint64_t count) {
    // acc = the map for the bits of count seen so far; cur = the map for
    // the next bit's power of two. All arithmetic is mod 2^32.
    std::uint32_t accMultiplier = 1u, accIncrement = 0u;
    std::uint32_t curMultiplier = kMultiplier, curIncrement = kIncrement;
    while (count) {
        if (count & 1u) {
            accMultiplier *= curMultiplier;
            accIncrement = accIncrement * curMultiplier + curIncrement;
        }
        curIncrement = (curMultiplier + 1u) * curIncrement;
        curMultiplier *= curMultiplier;
        count >>= 1;
    }
    return accMultiplier * state + accIncrement;
}
