#pragma once
#include "flight/laser_line.h"
#include "lidar/lidar_point.h"

#include <cstddef>
#include <cstdint>

// What a pulse carries besides its laser record: when it left the scanner,
// on which flight line, and how the scanner was moving.
struct PulseInfo {
    enum Flags : std::uint8_t {
        kScanForward = 1,  // the sweep moves towards positive scan angles (LAS scan direction flag 1)
        kSweepEdge = 2,    // the sweep turns at this pulse (LAS edge-of-flight-line flag)
    };
    double time = 0.0;       // seconds since the first pulse: the run time of the scanner pattern
    std::uint32_t line = 0;  // flight line, 1-based in flight order
    std::uint8_t flags = 0;
};

// A run of consecutive pulses of one survey, in flight order, after the
// cast and the error step. The in-memory run hands its whole survey over as
// one chunk; a streamed or distributed run hands over many, always in
// survey order. The records belong to the caller and live only for the call.
struct PulseChunk {
    std::uint64_t first = 0;            // survey index of lasers[0]
    const LaserLine* lasers = nullptr;  // `count` records
    const PulseInfo* info = nullptr;    // `count` records, or null where nobody asked for them
    std::size_t count = 0;
    // The returns of these pulses as the cast gave them, before the error
    // step, in pulse order (the desktop program's point list); one per
    // pulse with hitFaceIndex != -1. Null with pointCount 0 when none.
    const LidarPoint* points = nullptr;
    std::size_t pointCount = 0;
};
