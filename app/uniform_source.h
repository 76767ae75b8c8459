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
    static constexpr std::uint32_t kMultiplier = 1103515245u;
    static constexpr std::uint32_t kIncrement = 12345u;

    void seed(std::uint32_t s) override { state_ = s; }
    int next() override {
        state_ = step(state_);
        return draw_of(state_);
    }
    // The raw 32-bit state (a run split over processes hands it over).
    std::uint32_t state() const { return state_; }

    static std::uint32_t step(std::uint32_t state) { return state * kMultiplier + kIncrement; }
    static int draw_of(std::uint32_t state) { return static_cast<int>((state / 65536u) % 32768u); }
    // The state `count` draws after `state`, in O(log count) steps: the
    // affine map x -> a x + c composed with itself by repeated squaring.
    static std::uint32_t jump(std::uint32_t state, std::uint64_t count);

private:
    std::uint32_t state_ = 1;
};

constexpr int kUniformMax = 32767;

// The process-wide source.
UniformSource& uniform_source();
// Replaces the process-wide source (tests); nullptr restores the default
// generator, reset to its initial state.
void install_uniform_source(UniformSource* source);
