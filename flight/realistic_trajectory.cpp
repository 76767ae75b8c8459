#include "flight/realistic_trajectory.h"

#include "app/uniform_source.h"

#include <cmath>
#include <cstddef>

double term(const std::vector<double>& set, double t) {
    const std::size_t n = set.size();
    const double a = n > 0 ? set[0] : 0.0;
    const double b = n > 1 ? set[1] : 0.0;
    const double c = n > 2 ? set[2] : 0.0;
    const double d = n > 3 ? set[3] : 0.0;
    return a * std::cos(b * t) + c * std::sin(d * t);
}

void randomise_term_signs(std::vector<double>& set, std::uint32_t seed) {
    UniformSource& source = uniform_source();
    source.seed(seed);
    // Four draws whatever the size of the set, so the source's state after
    // the call does not depend on it.
    for (std::size_t i = 0; i < 4; ++i) {
        const int r = source.next();
        const double factor = r < 16384 ? -1.0 : 1.0;
        if (i < set.size()) set[i] *= factor;
    }
}

void copy_term_set(const TrajectoryTerms& terms, int index, std::vector<double>& out) {
    if (index >= 0 && static_cast<std::size_t>(index) < terms.size()) {
        const std::vector<double>& source = terms[static_cast<std::size_t>(index)];
        out.assign(source.begin(), source.end());
    } else {
        out.clear();
    }
    if (out.size() < 4) out.resize(4, 0.0);
}

void fresh_term_sets(const TrajectoryTerms& terms, int first, std::uint32_t seed, TermSetTriple& sets) {
    for (int i = 0; i < 3; ++i) {
        copy_term_set(terms, first + i, sets[static_cast<std::size_t>(i)]);
        randomise_term_signs(sets[static_cast<std::size_t>(i)], seed);
    }
}
