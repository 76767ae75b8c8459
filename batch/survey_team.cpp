#include "survey_team.h"

#include "app/simulation_data.h"

#include <stdexcept>

namespace {

// The plan draws the trajectory signs from the process-wide source as the
// one-process run did when it laid the lasers; put the state back after.
PulseGenerator counted_generator(const SimulationData& data, std::uint32_t seed) {
    const NormalDeviateState before = normal_deviate_state();
    PulseGenerator generator(data, seed);
    generator.count();
    restore_normal_deviate_state(before);
    return generator;
}

std::optional<ErrorStep> error_step_for(const ErrorSettings* e, unsigned threads) {
    if (!e) return std::nullopt;
    // The whole-survey step draws every random deviate before the overall
    // ones; split into pieces the order would change.
    if (e->randomOn && e->overallOn) throw std::logic_error("random and overall error together cannot be split");
    return ErrorStep(e->systematicOn ? &e->systematic : nullptr, e->randomOn ? &e->random : nullptr,
                     e->overallOn ? &e->overall : nullptr, threads);
}

}  // namespace

SurveyPieces::SurveyPieces(SimulationData& data, std::uint32_t seed, unsigned threads,
                           const ErrorSettings* errors, const NormalDeviateState& start)
    : generator_(counted_generator(data, seed)),
      caster_(data, threads),
      step_(error_step_for(errors, threads)),
      perLaser_(errors ? deviates_per_laser(errors->randomOn, errors->overallOn) : 0),
      start_(start),
      at_(start) {
    std::vector<std::size_t>& starts = data.laserlines.lineStarts;
    starts.clear();
    for (int i = 0; i < generator_.origins().lines(); ++i)
        starts.push_back(static_cast<std::size_t>(generator_.origins().lineStart(i)));
}

void SurveyPieces::run(std::uint64_t first, std::size_t count, LaserLine* out, std::vector<LidarPoint>& points,
                       const std::function<void()>& between, bool laid) {
    if (!laid) {
        if (first < cursor_.pulse) cursor_ = PulseGenerator::Cursor();
        generator_.skip(cursor_, first - cursor_.pulse);
        generator_.generate(cursor_, count, out);
    }
    caster_.cast(out, count, points, between ? std::size_t(8192) : 0,
                 [&between](std::size_t) {
                     if (between) between();
                 });
    if (!step_) return;
    // The random state at `first`: forward from the last piece when it lies
    // before, else from the start of the step.
    if (first < atLaser_) {
        at_ = start_;
        atLaser_ = 0;
    }
    at_ = skip_normal_deviates(at_, perLaser_ * (first - atLaser_));
    atLaser_ = first;
    const NormalDeviateState saved = normal_deviate_state();
    restore_normal_deviate_state(at_);
    step_->apply(out, count);
    at_ = normal_deviate_state();
    atLaser_ = first + count;
    restore_normal_deviate_state(saved);
}

NormalDeviateState SurveyPieces::endState() const {
    if (!step_) return start_;
    return skip_normal_deviates(at_, perLaser_ * (pulses() - atLaser_));
}

void adopt_wizard_values(SimulationData& data, const WizardValues& values) {
    data.flight = values.flight;
    data.scanner = values.scanner;
    data.realisticTrajectory = values.realisticTrajectory;
    data.trajectoryTerms = values.trajectoryTerms;
}

PieceFormatting::PieceFormatting(const SimulationData& data, std::uint64_t pulses, SurveyTeam::Formatters formatters,
                                 unsigned threads)
    : formatters_(std::move(formatters)), threads_(threads) {
    for (const auto& formatter : formatters_) {
        if (formatter->needsInfo() && !timing_) timing_ = std::make_unique<PulseTiming>(
            data.scanner, data.flight, data.laserlines.lineStarts, pulses);
    }
}

PieceFormatting::~PieceFormatting() = default;

void PieceFormatting::format(std::uint64_t first, std::size_t count, const LaserLine* lasers,
                             const std::vector<LidarPoint>& returns, std::vector<FormattedPiece>& out) {
    out.resize(formatters_.size());
    if (formatters_.empty()) return;
    PulseChunk chunk;
    chunk.first = first;
    chunk.lasers = lasers;
    chunk.count = count;
    chunk.points = returns.empty() ? nullptr : returns.data();
    chunk.pointCount = returns.size();
    if (timing_) {
        infos_.resize(count);
        timing_->fill(first, count, infos_.data());
        chunk.info = infos_.data();
    }
    for (std::size_t k = 0; k < formatters_.size(); ++k) format_piece(*formatters_[k], chunk, threads_, out[k]);
}
