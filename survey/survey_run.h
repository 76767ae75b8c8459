#pragma once
#include "errors/error_model.h"
#include "flight/pulse_generator.h"
#include "lidar/lidar_point.h"
#include "output/piece_formatter.h"
#include "survey/survey_sink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SimulationData;
class PulseCaster;

// How much of a chunk's records comes back from a cast elsewhere: none,
// the hits only (hitFaceIndex and hitPoint of every record, the rest as
// laid), or the whole records with the returns.
enum class ChunkRecords : std::uint32_t { None = 0, Hits = 1, Whole = 2 };

// A chunk cast and formatted elsewhere, as it comes back: its pieces in
// survey order, each formatted for every sink that formats piece by piece.
struct ChunkPieces {
    struct Piece {
        std::uint64_t first = 0;  // survey index of the first pulse
        std::size_t count = 0;
        // One per sink of the run that is a PiecewiseSink, in the order
        // the sinks were added.
        std::vector<FormattedPiece> formatted;
    };
    std::vector<Piece> pieces;
    std::uint64_t returns = 0;  // of the whole chunk
    ChunkRecords records = ChunkRecords::None;
};

// The stages a chunk goes through, for the runner's timing and progress.
enum class SurveyStage { Lasers, Cast, Errors, Sink };

// What the runner of a survey hears from it. Called on the run's thread.
class SurveyObserver {
public:
    virtual ~SurveyObserver() = default;
    // A stage of a chunk begins / ends (`sink`: index of the sink for Sink).
    virtual void stageBegin(SurveyStage, std::size_t /*sink*/) {}
    virtual void stageEnd(SurveyStage, std::size_t /*sink*/) {}
    // Progress inside the current stage (the cast of a whole survey).
    virtual void stageProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    // A chunk went through every stage.
    virtual void chunkDone(std::uint64_t /*pulsesDone*/, std::uint64_t /*pulses*/) {}
    // Asked between chunks and between stages: true ends the run there.
    virtual bool stopRequested() { return false; }
};

// One survey as a pipeline over chunks of consecutive pulses: each chunk is
// generated, cast, perturbed and handed to every sink, then dropped. A
// chunk never spans two flight lines and holds at most chunkPulses pulses.
// Run in memory, the whole survey is one chunk kept in the data's lists
// (data.lasers(), data.points), as the desktop program's steps leave them.
//
// Every chunk can be made from its first pulse alone: the generation state
// there is reached by replaying the additions of the earlier pulses
// (PulseGenerator::skip) and the error step draws in survey order, so the
// records, the random errors and the bytes of every sink are the same for
// any chunk size and any thread count.
class SurveyRun {
public:
    struct Settings {
        std::uint32_t signSeed = 1;  // the realistic trajectory's sign draws
        unsigned threads = 0;        // 0: one per hardware thread
        bool inMemory = true;        // one chunk in data's lists
        std::uint64_t chunkPulses = std::uint64_t(1) << 18;  // when streamed
    };

    // Plans the survey of data's stored wizard values and model (after
    // begin_laser_generation). Nothing is counted or drawn yet.
    SurveyRun(SimulationData& data, const Settings& settings);
    ~SurveyRun();

    // Streams the run in chunks of at most chunkPulses pulses.
    void stream(std::uint64_t chunkPulses) {
        settings_.inMemory = false;
        settings_.chunkPulses = chunkPulses;
    }
    bool inMemory() const { return settings_.inMemory; }

    // The quick pulse estimate of the plan, for a memory budget.
    double estimatedPulses() const;
    // Throws InputError when the records of an in-memory run cannot fit.
    void refuse_beyond_memory() const;
    // Counts the pulses exactly, draws the trajectory signs as the passes
    // do and records the flight lines' first pulses in data.laserlines.
    void count();
    std::uint64_t pulses() const { return generator_.pulses(); }

    // Whether the cast gives any return at all: casts the middle of each
    // line, then every pulse from the first, until one comes back (nothing
    // is kept). Decides, before the run, the steps the desktop program
    // refuses without points. Asks `stop` between blocks of pulses:
    // nullopt when it said stop.
    std::optional<bool> anyReturn(const std::function<bool()>& stop = {});

    // The products, fed in the order given. The run does not own them.
    void addSink(SurveySink* sink) { sinks_.push_back(sink); }
    // The error step (over data's stored settings) to apply after the cast.
    void setErrorStep(bool on) { errorsOn_ = on; }
    // Whether the chunks carry their pulses' PulseInfo (for sinks that
    // stamp times, lines or scan flags).
    void setPulseInfo(bool on) { infoOn_ = on; }
    // Whether to cast at all (a refused cast still lays the pulses).
    void setCast(bool on) { castOn_ = on; }
    // Casts and perturbs each chunk elsewhere (the processes of a team),
    // in place of the cast and the error step here, and formats it there
    // for the sinks that format piece by piece (PiecewiseSink): called with
    // the chunk's first pulse and its laid records, it fills `pieces`, puts
    // back of the cast and perturbed records what pieces.records says (and
    // with whole records appends the returns in pulse order), and reports
    // the pulses of the chunk done so far to `progress`. The other sinks
    // get the records.
    using ChunkCast = std::function<void(std::uint64_t first, LaserLine* lasers, std::size_t count,
                                         std::vector<LidarPoint>& points, ChunkPieces& pieces,
                                         const std::function<void(std::size_t)>& progress)>;
    void castElsewhere(ChunkCast cast) { castElsewhere_ = std::move(cast); }
    // What of the records the other sinks read: what a cast elsewhere must
    // send back.
    ChunkRecords recordsElsewhere() const;

    // Runs every chunk. Returns false when the observer asked to stop: every
    // sink has then been abandoned. A sink that throws OutputError is
    // abandoned and left out from then on (its message in failures()); any
    // other exception abandons all sinks and is passed on.
    bool run(SurveyObserver& observer);

    std::uint64_t expectedHits() const { return expectedHits_; }
    std::uint64_t points() const { return points_; }
    std::uint64_t pulsesDone() const { return done_; }
    // For every sink added: "" when it finished, else why it was abandoned.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    // Makes lasers the next `count` records.
    void lay(PulseGenerator::Cursor& cursor, std::size_t count, std::vector<LaserLine>& lasers);
    void generate(PulseGenerator::Cursor& cursor, std::size_t count, std::size_t pieces, LaserLine* out);
    void feed(std::size_t sink, const PulseChunk& chunk, SurveyObserver& observer);
    void feedPieces(std::size_t sink, std::size_t slot, const ChunkPieces& pieces, SurveyObserver& observer);
    void abandonAll() noexcept;

    SimulationData& data_;
    Settings settings_;
    PulseGenerator generator_;
    std::unique_ptr<PulseCaster> caster_;
    std::vector<SurveySink*> sinks_;
    std::vector<std::string> failures_;
    std::vector<bool> live_;
    bool errorsOn_ = false;
    bool castOn_ = true;
    ChunkCast castElsewhere_;
    bool infoOn_ = false;
    std::uint64_t expectedHits_ = 0, points_ = 0, done_ = 0;
};
