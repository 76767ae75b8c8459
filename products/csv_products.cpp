#include "products/csv_products.h"

#include "app/progress.h"
#include "app/simulation_data.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char kPointHeader[] =
    "x,y,z,gps_time,intensity,classification,flight_line,scan_angle_deg,return_number,number_of_returns\n";
const char kTrajectoryHeader[] = "time,x,y,z,roll,pitch,yaw\n";

constexpr double kPowers[] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

inline char* put_unsigned(char* p, std::uint64_t v) { return std::to_chars(p, p + 24, v).ptr; }

}  // namespace

char* put_fixed(char* p, double value, int decimals) {
    const double scaled = value * kPowers[decimals];
    if (std::fabs(scaled) < 4e15) {
        const double units = std::nearbyint(scaled);
        std::int64_t u = static_cast<std::int64_t>(units);
        if (u < 0 || (u == 0 && std::signbit(value))) {  // "-0.000" as printf writes it
            *p++ = '-';
            u = -u;
        }
        const auto whole = static_cast<std::uint64_t>(u) / static_cast<std::uint64_t>(kPowers[decimals]);
        std::uint64_t frac = static_cast<std::uint64_t>(u) % static_cast<std::uint64_t>(kPowers[decimals]);
        p = put_unsigned(p, whole);
        if (decimals > 0) {
            *p++ = '.';
            for (int d = decimals - 1; d >= 0; --d) {
                p[d] = static_cast<char>('0' + frac % 10);
                frac /= 10;
            }
            p += decimals;
        }
        return p;
    }
    const int written = std::snprintf(p, kMaxFixedText, "%.*f", decimals, value);
    return p + (written > 0 ? written : 0);
}

char* put_exact(char* p, double value) { return std::to_chars(p, p + 32, value).ptr; }

// ---------------------------------------------------------------------------
// Points

void PointCsvSink::begin(const SurveyContext& context) {
    open(context, true);
    file_->file().write_raw(kPointHeader, sizeof kPointHeader - 1);
}

void PointCsvSink::consume(const PulseChunk& chunk) {
    const PulseInfo* info = infos(chunk);
    const LaserLine* const lasers = chunk.lasers;
    const ReturnAttributes& attributes = *attributes_;
    const double startTime = settings_.start.adjustedGpsTime;
    WritingLoopProgress loop(progress(), chunk.count);
    constexpr std::size_t kLine = 4 * kMaxFixedText + 64;
    write_in_order(file_->file(), loop, chunk.count, writer_threads(settings_.threads),
                   [&](TextBuffer& out, std::size_t begin, std::size_t end) {
                       for (std::size_t i = begin; i < end; ++i) {
                           const LaserLine& l = lasers[i];
                           if (l.hitFaceIndex == -1) continue;
                           const PulseInfo& pi = info[i];
                           char* const start = out.room(kLine);
                           char* p = start;
                           p = put_fixed(p, l.hitPoint.x, 3);
                           *p++ = ',';
                           p = put_fixed(p, l.hitPoint.y, 3);
                           *p++ = ',';
                           p = put_fixed(p, l.hitPoint.z, 3);
                           *p++ = ',';
                           p = put_fixed(p, startTime + pi.time, 6);
                           *p++ = ',';
                           const std::uint8_t cls = attributes.classification(l.hitFaceIndex);
                           p = put_unsigned(p, attributes.intensity(l, cls));
                           *p++ = ',';
                           p = put_unsigned(p, cls);
                           *p++ = ',';
                           p = put_unsigned(p, pi.line);
                           *p++ = ',';
                           p = put_fixed(p, attributes.scan_angle(l, pi.line), 3);
                           std::memcpy(p, ",1,1\n", 5);
                           out.commit(p + 5);
                       }
                   });
    loop.finish();
}

// ---------------------------------------------------------------------------
// Trajectory

void TrajectoryCsvSink::begin(const SurveyContext& context) {
    haveLast_ = false;
    open(context, false);
    file_->file().write_raw(kTrajectoryHeader, sizeof kTrajectoryHeader - 1);
}

namespace {

constexpr std::size_t kTrajectoryLine = 7 * 33 + 8;

char* put_row(char* p, double time, const Vec3& o, double roll, double pitch, double yaw) {
    const double values[7] = {time, o.x, o.y, o.z, roll, pitch, yaw};
    for (int k = 0; k < 7; ++k) {
        if (k) *p++ = ',';
        p = put_exact(p, values[k] == 0.0 ? 0.0 : values[k]);  // no "-0"
    }
    *p++ = '\n';
    return p;
}

}  // namespace

void TrajectoryCsvSink::consume(const PulseChunk& chunk) {
    const PulseInfo* info = infos(chunk);
    const LaserLine* const lasers = chunk.lasers;
    const double startTime = settings_.start.adjustedGpsTime;
    const double rate = settings_.trajectoryRate;
    const bool resample = rate > 0.0 && std::isfinite(rate);
    const bool haveLast = haveLast_;
    const LaserLine lastLaser = lastLaser_;
    const PulseInfo lastInfo = lastInfo_;
    WritingLoopProgress loop(progress(), chunk.count);
    write_in_order(file_->file(), loop, chunk.count, writer_threads(settings_.threads),
                   [&](TextBuffer& out, std::size_t begin, std::size_t end) {
                       for (std::size_t i = begin; i < end; ++i) {
                           const LaserLine& b = lasers[i];
                           const PulseInfo& bi = info[i];
                           if (!resample) {
                               out.commit(put_row(out.room(kTrajectoryLine), startTime + bi.time, b.origin, b.roll,
                                                  b.pitch, b.yaw));
                               continue;
                           }
                           const LaserLine* a = i > 0 ? &lasers[i - 1] : (haveLast ? &lastLaser : nullptr);
                           const PulseInfo* ai = i > 0 ? &info[i - 1] : (haveLast ? &lastInfo : nullptr);
                           if (!a || ai->line != bi.line) {
                               // A line's first pulse: a line only when it falls on a sample time.
                               const double k = std::round(bi.time * rate);
                               if (k / rate == bi.time)
                                   out.commit(put_row(out.room(kTrajectoryLine), startTime + bi.time, b.origin,
                                                      b.roll, b.pitch, b.yaw));
                               continue;
                           }
                           const double t0 = ai->time, t1 = bi.time;
                           if (!(t1 > t0)) continue;
                           double k = std::floor(t0 * rate);
                           while (k / rate <= t0) k += 1.0;
                           for (; k / rate <= t1; k += 1.0) {
                               const double t = k / rate;
                               const double f = (t - t0) / (t1 - t0);
                               const Vec3 o = a->origin + (b.origin - a->origin) * f;
                               out.commit(put_row(out.room(kTrajectoryLine), startTime + t, o,
                                                  a->roll + (b.roll - a->roll) * f,
                                                  a->pitch + (b.pitch - a->pitch) * f,
                                                  a->yaw + (b.yaw - a->yaw) * f));
                           }
                       }
                   });
    loop.finish();
    if (chunk.count != 0) {
        haveLast_ = true;
        lastLaser_ = lasers[chunk.count - 1];
        lastInfo_ = info[chunk.count - 1];
    }
}
