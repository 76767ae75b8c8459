#pragma once
#include <cstdint>

// The process-wide source of uniform integers 0..32767 that the realistic
// trajectory and the error model draw from. The default is the example
// generator of the C standard, so runs are reproducible on every platform:
// a 32-bit state, initially 1; each draw sets
// state = state * 1103515245 + 12345 (mod 2^32) and returns
// (state / 65536) mod 32768.
class UniformSource {
public:
    virtual ~UniformSource() = default;
    virtual void seed(std::uint32_t s) = 0;
    virtual int next() = 0;  // 0..32767 inclusive
};

class CExampleGenerator final : public UniformSource {
public:
    void seed(std::uint32_t s) override { state_ = s; }
    int next() override {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<int>((state_ / 65536u) % 32768u);
    }

private:
    std::uint32_t state_ = 1;
};

constexpr int kUniformMax = 32767;

// The process-wide source.
UniformSource& uniform_source();
// Replaces the process-wide source (tests); nullptr restores the default
// generator, reset to its initial state.
void install_uniform_source(UniformSource* source);
