// Skipping ahead in the random stream: the generator's jump and the replay
// of the normal deviates' rejection loop land exactly where drawing one by
// one lands, so a survey cut into pieces gets the one-piece records.
#include "app/uniform_source.h"
#include "errors/error_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class RandomSkip : public ::testing::Test {
protected:
    void SetUp() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
    }
    void TearDown() override { SetUp(); }
};

// The state reached from `from` by drawing `count` normal deviates one by one.
NormalDeviateState drawn(const NormalDeviateState& from, std::uint64_t count) {
    restore_normal_deviate_state(from);
    for (std::uint64_t i = 0; i < count; ++i) normal_deviate(0.0, 1.0);
    return normal_deviate_state();
}

}  // namespace

TEST_F(RandomSkip, JumpEqualsDrawingOneByOne) {
    for (std::uint32_t seed : {0u, 1u, 12345u, 0xffffffffu}) {
        std::uint32_t x = seed;
        std::uint64_t drawnSoFar = 0;
        // Counts across bit patterns: 0, 1, powers of two and their neighbours.
        for (std::uint64_t count : {0ull, 1ull, 2ull, 3ull, 255ull, 256ull, 257ull, 100003ull}) {
            while (drawnSoFar < count) x = CExampleGenerator::step(x), ++drawnSoFar;
            EXPECT_EQ(CExampleGenerator::jump(seed, count), x) << "seed " << seed << ", count " << count;
        }
    }
    // The period is 2^32: a full turn comes back.
    EXPECT_EQ(CExampleGenerator::jump(777u, std::uint64_t(1) << 32), 777u);
    EXPECT_EQ(CExampleGenerator::jump(777u, (std::uint64_t(1) << 32) + 5), CExampleGenerator::jump(777u, 5));
}

TEST_F(RandomSkip, SkippedDeviatesEqualDrawnOnes) {
    // Start with and without a cached deviate, over odd and even counts
    // (an odd count leaves a deviate in the cache, which must be the drawn one).
    std::vector<NormalDeviateState> starts;
    for (std::uint32_t seed : {1u, 42u, 0x9e3779b9u}) {
        NormalDeviateState s;
        s.uniform = seed;
        starts.push_back(s);
        starts.push_back(drawn(s, 1));  // a cached second deviate
    }
    for (const NormalDeviateState& from : starts) {
        for (std::uint64_t count : {0ull, 1ull, 2ull, 3ull, 7ull, 14ull, 7ull * 4097ull, 200001ull}) {
            const NormalDeviateState skipped = skip_normal_deviates(from, count);
            EXPECT_EQ(skipped, drawn(from, count)) << "from " << from.uniform << (from.cached ? "+cache" : "")
                                                   << ", count " << count;
            // And the deviates drawn after it are the same too.
            const double next = (restore_normal_deviate_state(drawn(from, count)), normal_deviate(0.0, 1.0));
            restore_normal_deviate_state(skipped);
            EXPECT_EQ(normal_deviate(0.0, 1.0), next);
        }
    }
}

TEST_F(RandomSkip, PiecesOfARandomErrorStepMatchTheWholeStep) {
    // 1000 lasers perturbed in one step, and in pieces each started from the
    // state skipped to its first laser.
    std::vector<LaserLine> whole(1000);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        whole[i].origin = {double(i), 2.0 * double(i), 300.0};
        whole[i].direction = {0.0, 0.0, -1.0};
        whole[i].range = 250.0;
    }
    std::vector<LaserLine> pieces = whole;
    const std::vector<double> sigmas{0.1, 0.2, 0.3, 0.01, 0.02, 0.03, 0.05};
    NormalDeviateState start;
    start.uniform = 2024u;
    restore_normal_deviate_state(start);
    ErrorStep(nullptr, &sigmas, nullptr, 1).apply(whole.data(), whole.size());
    const NormalDeviateState end = normal_deviate_state();

    const std::uint64_t perLaser = deviates_per_laser(true, false);
    // Pieces done out of order, as ranks finish them.
    const std::size_t cuts[][2] = {{700, 1000}, {0, 1}, {333, 700}, {1, 333}};
    for (const auto& cut : cuts) {
        restore_normal_deviate_state(skip_normal_deviates(start, perLaser * cut[0]));
        ErrorStep(nullptr, &sigmas, nullptr, 2).apply(pieces.data() + cut[0], cut[1] - cut[0]);
    }
    for (std::size_t i = 0; i < whole.size(); ++i) {
        ASSERT_EQ(pieces[i].origin.x, whole[i].origin.x) << i;
        ASSERT_EQ(pieces[i].hitPoint.z, whole[i].hitPoint.z) << i;
        ASSERT_EQ(pieces[i].direction.y, whole[i].direction.y) << i;
    }
    EXPECT_EQ(skip_normal_deviates(start, perLaser * whole.size()), end);
}

TEST_F(RandomSkip, TheTableOfAcceptedPairsGivesTheMethodsVerdicts) {
    // Every pair for a spread of first draws (the ends, the middle, and a
    // stride through the rest), checked against the method's expressions.
    auto verdict = [](int r1, int r2) {
        const double u = 2.0 * r1 / 32767.0 - 1.0, v = 2.0 * r2 / 32767.0 - 1.0, s = u * u + v * v;
        return !(s == 0.0 || s > 1.0);
    };
    std::vector<int> firsts = {0, 1, 2, 16382, 16383, 16384, 16385, 32765, 32766, 32767};
    for (int r1 = 3; r1 < 32767; r1 += 331) firsts.push_back(r1);
    for (int r1 : firsts)
        for (int r2 = 0; r2 < 32768; ++r2) ASSERT_EQ(polar_pair_accepted(r1, r2), verdict(r1, r2)) << r1 << ", " << r2;
}

namespace {

// The default generator's sequence from a source of another class: the
// error step then draws call by call through normal_deviate, as it always
// did, which is the reference for its bulk draws from the default generator.
class SameSequenceSource final : public UniformSource {
public:
    void seed(std::uint32_t s) override { state_ = s; }
    int next() override {
        state_ = CExampleGenerator::step(state_);
        return CExampleGenerator::draw_of(state_);
    }

private:
    std::uint32_t state_ = 1;
};

bool same_bits(const Vec3& a, const Vec3& b) {
    return std::memcmp(&a.x, &b.x, sizeof a.x) == 0 && std::memcmp(&a.y, &b.y, sizeof a.y) == 0 &&
           std::memcmp(&a.z, &b.z, sizeof a.z) == 0;
}

std::vector<LaserLine> survey_records(std::size_t n) {
    std::vector<LaserLine> lasers(n);
    for (std::size_t i = 0; i < n; ++i) {
        LaserLine& l = lasers[i];
        l.origin = {0.5 * double(i), 1000.0 - 0.25 * double(i), 900.0};
        l.direction = {0.01 * double(i % 17) - 0.08, -0.003 * double(i % 5), -1.0};
        l.range = i % 3 == 0 ? -1.0 : 800.0 + double(i % 11);
        l.hitPoint = l.origin + l.direction * l.range;
    }
    return lasers;
}

}  // namespace

TEST_F(RandomSkip, BulkDrawsOfTheDefaultGeneratorEqualDrawingCallByCall) {
    const std::vector<double> systematic = {0.05, -0.05, 0.1, 0.01, 0.02, -0.01, 0.02};
    const std::vector<double> random = {0.05, 0.04, 0.03, 0.005, 0.004, 0.003, 0.01};
    const std::vector<double> overall = {0.2, 0.3, 0.4};
    SameSequenceSource reference;
    // Lasers across a block of draws, one-laser runs and odd deviate counts
    // (overall error draws three per laser), with and without a deviate
    // cached before the step, each error kind alone and together.
    for (const bool cachedFirst : {false, true}) {
        for (const std::size_t n : {std::size_t(1), std::size_t(3), std::size_t(70001)}) {
            for (const int kinds : {1, 2, 3, 4, 5, 7}) {
                const std::vector<double>* s = kinds & 1 ? &systematic : nullptr;
                const std::vector<double>* r = kinds & 2 ? &random : nullptr;
                const std::vector<double>* o = kinds & 4 ? &overall : nullptr;
                auto perturbed = [&](UniformSource* source, unsigned threads) {
                    install_uniform_source(source);
                    uniform_source().seed(77);
                    reset_normal_deviate();
                    if (cachedFirst) normal_deviate(0.0, 1.0);
                    std::vector<LaserLine> lasers = survey_records(n);
                    ErrorStep(s, r, o, threads).apply(lasers.data(), lasers.size());
                    const double next = normal_deviate(0.0, 1.0);  // where the stream was left
                    install_uniform_source(nullptr);
                    return std::make_pair(lasers, next);
                };
                const auto expected = perturbed(&reference, 1);
                for (const unsigned threads : {1u, 2u, 3u}) {
                    const auto bulk = perturbed(nullptr, threads);
                    const std::string where = "kinds " + std::to_string(kinds) + ", n " + std::to_string(n) +
                                              (cachedFirst ? ", cached" : "") + ", threads " + std::to_string(threads);
                    ASSERT_EQ(bulk.second, expected.second) << where;
                    for (std::size_t i = 0; i < n; ++i) {
                        const LaserLine& a = bulk.first[i];
                        const LaserLine& b = expected.first[i];
                        // Bit for bit: a zero's sign counts too.
                        ASSERT_TRUE(same_bits(a.origin, b.origin) && same_bits(a.direction, b.direction) &&
                                    same_bits(a.hitPoint, b.hitPoint) &&
                                    std::memcmp(&a.range, &b.range, sizeof a.range) == 0)
                            << where << ", laser " << i;
                    }
                }
            }
        }
    }
}

TEST_F(RandomSkip, BulkDrawsOfAnyLengthLeaveTheStreamWhereCallByCallLeavesIt) {
    // The bulk draws take the tries in groups while enough pairs are
    // wanted and one by one after: every count of pairs from one to past
    // three groups (three deviates per laser with overall error, seven
    // with random error), with and without a deviate cached before.
    const std::vector<double> random = {0.05, 0.04, 0.03, 0.005, 0.004, 0.003, 0.01};
    const std::vector<double> overall = {0.2, 0.3, 0.4};
    SameSequenceSource reference;
    for (const bool cachedFirst : {false, true}) {
        for (const std::vector<double>* sigmas : {&overall, &random}) {
            const bool isOverall = sigmas == &overall;
            for (std::size_t n = 1; n <= 40; ++n) {
                auto perturbed = [&](UniformSource* source) {
                    install_uniform_source(source);
                    uniform_source().seed(static_cast<std::uint32_t>(1000 + n));
                    reset_normal_deviate();
                    if (cachedFirst) normal_deviate(0.0, 1.0);
                    std::vector<LaserLine> lasers = survey_records(n);
                    ErrorStep(nullptr, isOverall ? nullptr : sigmas, isOverall ? sigmas : nullptr, 1)
                        .apply(lasers.data(), lasers.size());
                    const double next = normal_deviate(0.0, 1.0);
                    install_uniform_source(nullptr);
                    return std::make_pair(lasers, next);
                };
                const auto expected = perturbed(&reference);
                const auto bulk = perturbed(nullptr);
                const std::string where = std::string(isOverall ? "overall" : "random") + ", n " + std::to_string(n) +
                                          (cachedFirst ? ", cached" : "");
                ASSERT_EQ(bulk.second, expected.second) << where;
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_TRUE(same_bits(bulk.first[i].hitPoint, expected.first[i].hitPoint)) << where << ", laser " << i;
            }
        }
    }
}
