#include "survey/survey_run.h"

#include "app/failure.h"
#include "app/fresh_memory.h"
#include "app/simulation_data.h"
#include "errors/error_tasks.h"
#include "lidar/lidar_tasks.h"
#include "output/writing_loop.h"
#include "survey/pulse_timing.h"

#include <algorithm>

namespace {

// Pulses per piece of parallel generation: below this, one thread.
constexpr std::size_t kGenerationPiece = 16384;
// Pulses cast at a time while looking for the first return.
constexpr std::size_t kProbe = 4096;
// Pulses made and laid at a time on one thread.
constexpr std::size_t kLayingPiece = 2048;
// Pulses made at a time in a buffer before they join the list: a few
// dozen kilobytes.
constexpr std::size_t kCachedPiece = 256;

}  // namespace

SurveyRun::SurveyRun(SimulationData& data, const Settings& settings)
    : data_(data), settings_(settings), generator_(data, settings.signSeed) {}

SurveyRun::~SurveyRun() = default;

double SurveyRun::estimatedPulses() const {
    return generator_.origins().estimate(std::numeric_limits<double>::infinity());
}

void SurveyRun::refuse_beyond_memory() const { generator_.origins().refuse_beyond_memory(); }

void SurveyRun::count() {
    generator_.count();
    std::vector<std::size_t>& starts = data_.laserlines.lineStarts;
    starts.clear();
    for (int i = 0; i < generator_.origins().lines(); ++i)
        starts.push_back(static_cast<std::size_t>(generator_.origins().lineStart(i)));
}

void SurveyRun::lay(PulseGenerator::Cursor& cursor, std::size_t count, std::vector<LaserLine>& lasers) {
    const unsigned threads = writer_threads(settings_.threads);
    const std::size_t pieces = std::max<std::size_t>(1, std::min<std::size_t>(threads, count / kGenerationPiece));
    if (lasers.size() >= count) {
        lasers.resize(count);
        generate(cursor, count, pieces, lasers.data());
        return;
    }
    empty_with_room(lasers, count);
    if (pieces > 1) {
        // The memory backed on all threads first, in one call per piece,
        // rather than page by page as the list is laid out.
        LaserLine* const room = lasers.data();
        const std::size_t size = (count + pieces - 1) / pieces;
        run_parallel(settings_.threads, pieces, [&](std::size_t p) {
            const std::size_t begin = p * size;
            prefault_for_writing(room + begin, (std::min(count, begin + size) - begin) * sizeof(LaserLine));
        });
        lasers.resize(count);
        generate(cursor, count, pieces, lasers.data());
        return;
    }
    // On one thread the records are made a piece at a time in a buffer that
    // stays in the cache and copied onto the end of the list (rather than
    // the list being grown with default records first and then written
    // over); each piece's memory is backed in one call rather than page by
    // page.
    const ModelLimits limits = data_.limits();
    std::vector<LaserLine> piece(std::min(kCachedPiece, count));
    std::size_t backed = 0;  // records whose memory is backed
    while (lasers.size() < count) {
        const std::size_t begin = lasers.size();
        const std::size_t n = std::min(kCachedPiece, count - begin);
        generator_.generate(cursor, n, piece.data());
        expectedHits_ += count_expected_hits(piece.data(), n, limits);
        if (begin + n > backed) {
            const std::size_t upto = std::min(count, std::max(begin + n, backed + kLayingPiece));
            prefault_for_writing(lasers.data() + backed, (upto - backed) * sizeof(LaserLine));
            backed = upto;
        }
        lasers.insert(lasers.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

void SurveyRun::generate(PulseGenerator::Cursor& cursor, std::size_t count, std::size_t pieces, LaserLine* out) {
    if (pieces == 1) {
        const ModelLimits limits = data_.limits();
        for (std::size_t begin = 0; begin < count; begin += kLayingPiece) {
            const std::size_t n = std::min(kLayingPiece, count - begin);
            generator_.generate(cursor, n, out + begin);
            expectedHits_ += count_expected_hits(out + begin, n, limits);
        }
        return;
    }
    // Pieces generated side by side, each from its own cursor: the state at
    // a piece's first pulse is the previous one's moved on by replay.
    const std::size_t size = (count + pieces - 1) / pieces;
    std::vector<PulseGenerator::Cursor> starts(pieces, cursor);
    for (std::size_t p = 1; p < pieces; ++p) {
        starts[p] = starts[p - 1];
        generator_.skip(starts[p], size);
    }
    std::vector<std::uint64_t> hits(pieces, 0);
    const ModelLimits limits = data_.limits();
    run_parallel(settings_.threads, pieces, [&](std::size_t p) {
        const std::size_t end = std::min(count, (p + 1) * size);
        PulseGenerator::Cursor c = starts[p];
        // The hits counted on each run just laid, still in the cache.
        for (std::size_t begin = p * size; begin < end; begin += kLayingPiece) {
            const std::size_t n = std::min(kLayingPiece, end - begin);
            generator_.generate(c, n, out + begin);
            hits[p] += count_expected_hits(out + begin, n, limits);
        }
    });
    for (std::uint64_t h : hits) expectedHits_ += h;
    cursor = starts.back();
    generator_.skip(cursor, count - (pieces - 1) * size);
}

std::optional<bool> SurveyRun::anyReturn(const std::function<bool()>& stop) {
    if (!caster_) caster_ = std::make_unique<PulseCaster>(data_, settings_.threads);
    std::vector<LaserLine> probe(std::min<std::uint64_t>(kProbe, pulses()));
    std::vector<LidarPoint> found;
    auto returns = [&](PulseGenerator::Cursor& cursor, std::uint64_t end) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(probe.size(), end - cursor.pulse));
        generator_.generate(cursor, n, probe.data());
        caster_->cast(probe.data(), n, found);
        return !found.empty();
    };
    // A line's middle lies over the model where any part of it does, and
    // its start often does not: those pulses first, line by line.
    const OriginPlan& lines = generator_.origins();
    for (int line = 0; line < lines.lines(); ++line) {
        const std::uint64_t count = lines.linePulses(line);
        if (count == 0) continue;
        if (stop && stop()) return std::nullopt;
        const std::uint64_t from = lines.lineStart(line) + (count > probe.size() ? (count - probe.size()) / 2 : 0);
        PulseGenerator::Cursor cursor;
        generator_.skip(cursor, from);
        if (returns(cursor, std::min(lines.lineStart(line) + count, pulses()))) return true;
    }
    // Then every pulse, in order, until one comes back.
    PulseGenerator::Cursor cursor;
    while (cursor.pulse < pulses()) {
        if (stop && stop()) return std::nullopt;
        if (returns(cursor, pulses())) return true;
    }
    return false;
}

void SurveyRun::feed(std::size_t sink, const PulseChunk& chunk, SurveyObserver& observer) {
    if (!live_[sink]) return;
    observer.stageBegin(SurveyStage::Sink, sink);
    try {
        sinks_[sink]->consume(chunk);
    } catch (const OutputError& e) {
        sinks_[sink]->abandon();
        live_[sink] = false;
        failures_[sink] = e.what();
    }
    observer.stageEnd(SurveyStage::Sink, sink);
}

void SurveyRun::feedPieces(std::size_t sink, std::size_t slot, const ChunkPieces& chunk, SurveyObserver& observer) {
    if (!live_[sink]) return;
    observer.stageBegin(SurveyStage::Sink, sink);
    PiecewiseSink* piecewise = static_cast<PiecewiseSink*>(sinks_[sink]);
    try {
        for (const ChunkPieces::Piece& piece : chunk.pieces) {
            if (slot >= piece.formatted.size()) throw std::logic_error("a piece came back without a sink's bytes");
            piecewise->consumeFormatted(piece.first, piece.count, piece.formatted[slot]);
        }
    } catch (const OutputError& e) {
        sinks_[sink]->abandon();
        live_[sink] = false;
        failures_[sink] = e.what();
    }
    observer.stageEnd(SurveyStage::Sink, sink);
}

ChunkRecords SurveyRun::recordsElsewhere() const {
    ChunkRecords needed = ChunkRecords::None;
    for (SurveySink* sink : sinks_) {
        if (dynamic_cast<PiecewiseSink*>(sink)) continue;
        if (sink->recordUse() == SurveySink::RecordUse::Whole) return ChunkRecords::Whole;
        needed = ChunkRecords::Hits;
    }
    return needed;
}

void SurveyRun::abandonAll() noexcept {
    for (std::size_t s = 0; s < sinks_.size(); ++s) {
        if (live_[s]) sinks_[s]->abandon();
        live_[s] = false;
    }
}

bool SurveyRun::run(SurveyObserver& observer) {
    const std::uint64_t n = pulses();
    failures_.assign(sinks_.size(), std::string());
    live_.assign(sinks_.size(), true);
    expectedHits_ = points_ = done_ = 0;
    if (castOn_ && !castElsewhere_ && !caster_) caster_ = std::make_unique<PulseCaster>(data_, settings_.threads);
    std::unique_ptr<ErrorStep> errors;
    if (errorsOn_) errors = std::make_unique<ErrorStep>(error_step(data_, settings_.threads));

    SurveyContext context;
    context.data = &data_;
    context.pulseCount = n;

    // In memory the chunk lives in data's lists; streamed, in buffers of
    // one chunk's size that every chunk reuses.
    std::vector<LaserLine> ownLasers;
    std::vector<LidarPoint> ownPoints;
    std::vector<LaserLine>& lasers = settings_.inMemory ? data_.lasers() : ownLasers;
    std::vector<LidarPoint>& points = settings_.inMemory ? data_.points : ownPoints;
    const std::uint64_t chunkLimit = settings_.inMemory ? std::max<std::uint64_t>(n, 1) : settings_.chunkPulses;
    // A pulse gives at most one return: room for one per pulse of a chunk
    // is never outgrown, so the list is never copied as it grows (and its
    // memory is touched only as far as the returns go).
    if (castOn_) {
        empty_with_room(points, static_cast<std::size_t>(std::min<std::uint64_t>(chunkLimit, n)));
    } else {
        points.clear();
    }
    std::unique_ptr<PulseTiming> timing;
    std::vector<PulseInfo> infos;
    // Chunks cast elsewhere: each piecewise sink's place in the pieces.
    ChunkPieces elsewhereChunk;
    std::vector<int> pieceSlots(sinks_.size(), -1);
    for (std::size_t s = 0, slot = 0; s < sinks_.size(); ++s)
        if (dynamic_cast<PiecewiseSink*>(sinks_[s])) pieceSlots[s] = static_cast<int>(slot++);
    if (infoOn_) timing = std::make_unique<PulseTiming>(data_.scanner, data_.flight, data_.laserlines.lineStarts, n);
    try {
        for (std::size_t s = 0; s < sinks_.size(); ++s) {
            try {
                sinks_[s]->begin(context);
            } catch (const OutputError& e) {
                sinks_[s]->abandon();
                live_[s] = false;
                failures_[s] = e.what();
            }
        }
        PulseGenerator::Cursor cursor;
        while (cursor.pulse < n) {
            const std::uint64_t first = cursor.pulse;
            const std::uint64_t end = settings_.inMemory ? n : std::min(generator_.lineEnd(cursor), first + chunkLimit);
            const std::size_t count = static_cast<std::size_t>(end - first);

            observer.stageBegin(SurveyStage::Lasers, 0);
            lay(cursor, count, lasers);
            observer.stageEnd(SurveyStage::Lasers, 0);
            if (observer.stopRequested()) break;

            if (!settings_.inMemory) points.clear();
            const std::uint64_t pointsBefore = points.size();
            const bool elsewhere = castOn_ && castElsewhere_;
            if (elsewhere) {
                observer.stageBegin(SurveyStage::Cast, 0);
                elsewhereChunk.pieces.clear();
                elsewhereChunk.returns = 0;
                elsewhereChunk.records = ChunkRecords::None;
                castElsewhere_(first, lasers.data(), count, points, elsewhereChunk,
                               [&observer, count](std::size_t at) { observer.stageProgress(at, count); });
                observer.stageEnd(SurveyStage::Cast, 0);
                if (observer.stopRequested()) break;
            } else if (castOn_) {
                observer.stageBegin(SurveyStage::Cast, 0);
                // A whole survey in one piece reports its progress as the
                // cast task does, every fiftieth of the lasers.
                const std::size_t block = settings_.inMemory ? std::max<std::size_t>(count / 50, 1) : 0;
                caster_->cast(lasers.data(), count, points, block,
                              [&observer, count](std::size_t at) { observer.stageProgress(at, count); });
                observer.stageEnd(SurveyStage::Cast, 0);
                if (observer.stopRequested()) break;
            }
            points_ += elsewhere ? elsewhereChunk.returns : points.size() - pointsBefore;

            if (errors && !(castOn_ && castElsewhere_)) {
                observer.stageBegin(SurveyStage::Errors, 0);
                errors->apply(lasers.data(), count);
                observer.stageEnd(SurveyStage::Errors, 0);
                if (observer.stopRequested()) break;
            }

            if (timing) {
                infos.resize(count);
                timing->fill(first, count, infos.data());
            }
            PulseChunk chunk;
            chunk.info = timing ? infos.data() : nullptr;
            chunk.first = first;
            chunk.lasers = lasers.data();
            chunk.count = count;
            chunk.points = points.empty() ? nullptr : points.data();
            chunk.pointCount = points.size();
            bool stop = false;
            for (std::size_t s = 0; s < sinks_.size() && !stop; ++s) {
                if (elsewhere && pieceSlots[s] >= 0) {
                    feedPieces(s, static_cast<std::size_t>(pieceSlots[s]), elsewhereChunk, observer);
                } else {
                    const bool enough =
                        !elsewhere || elsewhereChunk.records == ChunkRecords::Whole ||
                        (elsewhereChunk.records == ChunkRecords::Hits &&
                         sinks_[s]->recordUse() == SurveySink::RecordUse::Hits);
                    if (!enough && live_[s]) throw std::logic_error("a sink needs records a cast elsewhere left out");
                    feed(s, chunk, observer);
                }
                stop = observer.stopRequested();
            }
            if (stop) break;
            done_ = end;
            observer.chunkDone(done_, n);
            if (done_ < n && observer.stopRequested()) break;
        }
        if (done_ < n) {
            abandonAll();
            return false;
        }
        for (std::size_t s = 0; s < sinks_.size(); ++s) {
            if (!live_[s]) continue;
            observer.stageBegin(SurveyStage::Sink, s);
            try {
                sinks_[s]->finish();
                live_[s] = false;
            } catch (const OutputError& e) {
                sinks_[s]->abandon();
                live_[s] = false;
                failures_[s] = e.what();
            }
            observer.stageEnd(SurveyStage::Sink, s);
        }
    } catch (...) {
        abandonAll();
        throw;
    }
    if (!settings_.inMemory) {
        std::vector<LaserLine>().swap(ownLasers);
        std::vector<LidarPoint>().swap(ownPoints);
    }
    return true;
}
