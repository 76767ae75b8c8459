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
