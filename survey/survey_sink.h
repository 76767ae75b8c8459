#pragma once
#include "survey/pulse_chunk.h"

#include <cstdint>

class SimulationData;

// What a sink knows before the first pulse: the model, the wizard values and
// the plan are in `data` (its laser and point lists may be empty in a
// streamed run), and the number of pulses the survey will emit.
struct SurveyContext {
    const SimulationData* data = nullptr;
    std::uint64_t pulseCount = 0;
};

// One product of a survey (a point file, a trajectory, a raster, a report),
// fed chunk by chunk. The pipeline calls begin once, consume for every chunk
// in survey order, then either finish (write the rest and put the file in
// place under its final name) or abandon (remove whatever was started;
// an existing file of the final name stays untouched). One virtual call per
// chunk, never per pulse.
class SurveySink {
public:
    // What a sink reads of a chunk's laser records: all of them, or only
    // which pulses hit a triangle and where (hitFaceIndex and hitPoint).
    // A run that casts its chunks elsewhere sends back no more than its
    // sinks read.
    enum class RecordUse { Whole, Hits };

    virtual ~SurveySink() = default;
    virtual RecordUse recordUse() const { return RecordUse::Whole; }
    virtual void begin(const SurveyContext& context) = 0;
    virtual void consume(const PulseChunk& chunk) = 0;
    // Throws OutputError naming the file and the system's reason when the
    // output could not be completed; nothing is left under the final name.
    virtual void finish() = 0;
    virtual void abandon() noexcept = 0;
};
