#pragma once
#include "errors/error_model.h"
#include "errors/error_settings.h"
#include "flight/parameters.h"
#include "flight/pulse_generator.h"
#include "lidar/lidar_tasks.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class SimulationData;

// The processes of one survey run together (pointfall-batch started by
// mpirun or srun). The batch runner knows them only through this interface;
// how they talk lives in distributed/. Every process runs the same steps:
// it parses the same options and reads the model itself; the leader (the
// first process) alone prints, logs and writes, and the others only lay,
// cast and perturb the pieces of the survey they are dealt.
//
// The calls below are collective: every member makes them in the same order.
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

    struct CastJob {
        std::uint32_t seed = 1;       // the trajectory signs' seed
        unsigned threads = 0;         // casting threads per process
        const ErrorSettings* errors;  // the error step to apply per piece, or null
        std::uint64_t pulses = 0;     // the survey's pulses (the leader's count)
        // Called on the leader with the number of pulses done so far.
        std::function<void(std::uint64_t)> progress;
    };
    // Casts the survey planned in `data` and applies the error step on all
    // members. On the leader, data's laser records end as the one-process
    // cast and error step leave them and data.points holds the returns in
    // laser order; the random state is where the one-process run leaves it.
    virtual void castSurvey(SimulationData& data, const CastJob& job) = 0;
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
    // source; its state is restored afterwards.
    SurveyPieces(const SimulationData& data, std::uint32_t seed, unsigned threads, const ErrorSettings* errors,
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

// Sets the wizard's values into data as "Done" does before laying the
// lasers (a member that does not lay the whole survey itself).
void adopt_wizard_values(SimulationData& data, const WizardValues& values);
