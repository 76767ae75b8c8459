#pragma once
#include "errors/error_model.h"
#include "errors/error_settings.h"
#include "flight/parameters.h"
#include "flight/pulse_generator.h"
#include "lidar/lidar_tasks.h"
#include "output/piece_formatter.h"
#include "survey/pulse_timing.h"
#include "survey/survey_run.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SimulationData;

// The processes of one survey run together (pointfall-batch started by
// mpirun or srun). The batch runner knows them only through this interface;
// how they talk lives in distributed/. Every process runs the same steps:
// it parses the same options and reads the model itself; the leader (the
// first process) alone prints, logs and writes, and the others lay, cast,
// perturb and format the pieces of the survey they are dealt.
//
// Formatting: every process makes the formatters of the sinks that format
// piece by piece from the same options and model (opening no file), and
// formats each piece it casts for each of them; the leader appends the
// bytes in survey order through the sinks' own files, after taking the
// pieces' summaries (counts, bounds) into the headers. The parts are
// gathered in order, not written by every process at its own offset (as
// MPI-IO could): the files are written under a temporary name and renamed
// once complete, in a folder that not every machine of a cluster may see,
// so one writer keeps that and the reporting of a failed write as they are
// in one process. The records themselves travel only for the sinks that
// need them (the coverage raster, which counts rather than formats).
//
// The calls below are collective (but castChunk and endCast, the leader's):
// every member makes them in the same order.
class SurveyTeam {
public:
    virtual ~SurveyTeam() = default;
    virtual bool leader() const = 0;
    virtual int size() const = 0;
    // The leader's value, on every member.
    virtual std::uint32_t leaderValue(std::uint32_t value) = 0;
    // Verdicts: a false one ends the run on every member but the leader.
    // The leader's verdict, on every member.
    virtual bool leaderVerdict(bool ok) = 0;
    // True on every member when every member passed true.
    virtual bool allAgree(bool ok) = 0;

    using Formatters = std::vector<std::unique_ptr<PieceFormatter>>;
    struct CastJob {
        std::uint32_t seed = 1;                 // the trajectory signs' seed
        unsigned threads = 0;                   // casting threads per process
        const ErrorSettings* errors = nullptr;  // the error step to apply per piece, or null
        std::uint64_t pulses = 0;               // the survey's pulses (the leader's count)
        // Makes, on every process, the formatters of the run's piecewise
        // sinks in the run's order (ChunkPieces::Piece::formatted), for the
        // survey planned in the context's data; none when empty.
        std::function<Formatters(const SurveyContext&)> formatters;
        // What of the records and returns goes back to the leader (what its
        // other sinks read: SurveyRun::recordsElsewhere); the leader's.
        ChunkRecords records = ChunkRecords::Whole;
    };
    // Starts the cast of the survey planned in `data` (wizard values set).
    // On the leader it returns at once, with the random state at the error
    // step's first laser; the leader then hands every chunk to castChunk in
    // survey order and calls endCast. On the others it lays, casts and
    // perturbs the pieces the leader deals out (only whether the error step
    // applies is taken from the leader's job) and returns when the leader
    // ends the cast.
    virtual void beginCast(SimulationData& data, const CastJob& job) = 0;
    // Leader: casts, perturbs and formats the chunk's laid records as the
    // one-process run would, pieces of it on the others, into `pieces`
    // (see SurveyRun::ChunkCast), putting back of the records what the
    // job's `records` says. Tells `progress` the chunk's pulses done so far.
    virtual void castChunk(std::uint64_t first, LaserLine* lasers, std::size_t count,
                           std::vector<LidarPoint>& points, ChunkPieces& pieces,
                           const std::function<void(std::size_t)>& progress) = 0;
    // Leader: lets the others go and leaves the random state where the
    // one-process error step leaves it.
    virtual void endCast() = 0;
};

// Lays, casts and perturbs any run of pulses of the survey planned in a
// SimulationData (model loaded, wizard values set), giving the records the
// one-process run has for them. Runs are taken in any order; moving forward
// from the last one only replays the cursors and the rejection loop of the
// normal deviates.
class SurveyPieces {
public:
    // `start` is the random state at the first laser of the error step.
    // Laying the plan draws the trajectory signs from the process-wide
    // source; its state is restored afterwards. The flight lines' first
    // pulses go into data.laserlines, as SurveyRun::count puts them.
    SurveyPieces(SimulationData& data, std::uint32_t seed, unsigned threads, const ErrorSettings* errors,
                 const NormalDeviateState& start);
    std::uint64_t pulses() const { return generator_.pulses(); }
    // Lays, casts and perturbs pulses [first, first + count) into out and
    // appends their returns (before the error step) to points; with `laid`
    // out holds them as laser generation left them already. `between` is
    // called between blocks of the cast (the leader answers the others
    // there). The process-wide random state is left where it was.
    void run(std::uint64_t first, std::size_t count, LaserLine* out, std::vector<LidarPoint>& points,
             const std::function<void()>& between = {}, bool laid = false);
    // The random state after the error step over the whole survey.
    NormalDeviateState endState() const;

private:
    PulseGenerator generator_;
    PulseGenerator::Cursor cursor_;
    PulseCaster caster_;
    std::optional<ErrorStep> step_;
    std::uint64_t perLaser_ = 0;
    NormalDeviateState start_;
    NormalDeviateState at_;  // the state at laser atLaser_
    std::uint64_t atLaser_ = 0;
};

// Formats pieces of the survey, cast and perturbed, for every formatter of
// a run (in its order), the pulse infos worked out here when a formatter
// needs them: what every process of a team does with the pieces it casts.
class PieceFormatting {
public:
    PieceFormatting(const SimulationData& data, std::uint64_t pulses, SurveyTeam::Formatters formatters,
                    unsigned threads);
    ~PieceFormatting();
    std::size_t size() const { return formatters_.size(); }
    // Pulses [first, first + count) with their cast returns, into out (one
    // per formatter).
    void format(std::uint64_t first, std::size_t count, const LaserLine* lasers,
                const std::vector<LidarPoint>& returns, std::vector<FormattedPiece>& out);

private:
    SurveyTeam::Formatters formatters_;
    unsigned threads_;
    std::unique_ptr<PulseTiming> timing_;
    std::vector<PulseInfo> infos_;
};

// Sets the wizard's values into data as "Done" does before laying the
// lasers (a member that does not lay the whole survey itself).
void adopt_wizard_values(SimulationData& data, const WizardValues& values);
