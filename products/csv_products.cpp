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

namespace {

class PointCsvFormatter final : public PieceFormatter {
public:
    PointCsvFormatter(const SimulationData& data, const ProductSettings& settings)
        : attributes_(data, settings.intensity, data.laserlines.lineStarts.size()),
          startTime_(settings.start.adjustedGpsTime) {}

    bool needsInfo() const override { return true; }

    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        constexpr std::size_t kLine = 4 * kMaxFixedText + 64;
        const LaserLine* const lasers = chunk.lasers;
        const PulseInfo* const info = chunk.info;
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& l = lasers[i];
            if (l.hitFaceIndex == -1) continue;
            const PulseInfo& pi = info[i];
            char* p = out.room(kLine);
            p = put_fixed(p, l.hitPoint.x, 3);
            *p++ = ',';
            p = put_fixed(p, l.hitPoint.y, 3);
            *p++ = ',';
            p = put_fixed(p, l.hitPoint.z, 3);
            *p++ = ',';
            p = put_fixed(p, startTime_ + pi.time, 6);
            *p++ = ',';
            const std::uint8_t cls = attributes_.classification(l.hitFaceIndex);
            p = put_unsigned(p, attributes_.intensity(l, cls));
            *p++ = ',';
            p = put_unsigned(p, cls);
            *p++ = ',';
            p = put_unsigned(p, pi.line);
            *p++ = ',';
            p = put_fixed(p, attributes_.scan_angle(l, pi.line), 3);
            std::memcpy(p, ",1,1\n", 5);
            out.commit(p + 5);
        }
    }

private:
    ReturnAttributes attributes_;
    double startTime_;
};

}  // namespace

void PointCsvSink::begin(const SurveyContext& context) {
    open(context);
    file_->file().write_raw(kPointHeader, sizeof kPointHeader - 1);
}

std::unique_ptr<PieceFormatter> PointCsvSink::pieceFormatter(const SurveyContext& context) const {
    return std::make_unique<PointCsvFormatter>(*context.data, settings_);
}

// ---------------------------------------------------------------------------
// Trajectory

void TrajectoryCsvSink::begin(const SurveyContext& context) {
    haveLast_ = false;
    open(context);
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

// The resampled lines that pulse b brings: those at the sample times after
// the pulse a before it on the same line, up to b, interpolated between
// them; on a line's first pulse (no a, or a on another line) only one at b
// itself when b falls on a sample time.
void resampled_rows(const LaserLine* a, const PulseInfo* ai, const LaserLine& b, const PulseInfo& bi, double rate,
                    double startTime, TextBuffer& out) {
    if (!a || ai->line != bi.line) {
        const double k = std::round(bi.time * rate);
        if (k / rate == bi.time)
            out.commit(put_row(out.room(kTrajectoryLine), startTime + bi.time, b.origin, b.roll, b.pitch, b.yaw));
        return;
    }
    const double t0 = ai->time, t1 = bi.time;
    if (!(t1 > t0)) return;
    double k = std::floor(t0 * rate);
    while (k / rate <= t0) k += 1.0;
    for (; k / rate <= t1; k += 1.0) {
        const double t = k / rate;
        const double f = (t - t0) / (t1 - t0);
        const Vec3 o = a->origin + (b.origin - a->origin) * f;
        out.commit(put_row(out.room(kTrajectoryLine), startTime + t, o, a->roll + (b.roll - a->roll) * f,
                           a->pitch + (b.pitch - a->pitch) * f, a->yaw + (b.yaw - a->yaw) * f));
    }
}

// A piece's pulses at both ends, for the lines between pieces.
struct TrajectoryEnds {
    LaserLine firstLaser, lastLaser;
    PulseInfo firstInfo, lastInfo;
};

class TrajectoryCsvFormatter final : public PieceFormatter {
public:
    explicit TrajectoryCsvFormatter(const ProductSettings& settings)
        : startTime_(settings.start.adjustedGpsTime),
          rate_(settings.trajectoryRate),
          resample_(rate_ > 0.0 && std::isfinite(rate_)) {}

    bool needsInfo() const override { return true; }

    void summarise(const PulseChunk& chunk, unsigned, PieceSummary& summary) const override {
        if (!resample_ || chunk.count == 0) return;
        TrajectoryEnds ends;
        ends.firstLaser = chunk.lasers[0];
        ends.firstInfo = chunk.info[0];
        ends.lastLaser = chunk.lasers[chunk.count - 1];
        ends.lastInfo = chunk.info[chunk.count - 1];
        summary.put(ends);
    }

    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        const LaserLine* const lasers = chunk.lasers;
        const PulseInfo* const info = chunk.info;
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& b = lasers[i];
            const PulseInfo& bi = info[i];
            if (!resample_) {
                out.commit(put_row(out.room(kTrajectoryLine), startTime_ + bi.time, b.origin, b.roll, b.pitch, b.yaw));
            } else if (i > 0) {  // the first pulse's lines wait for the pulse before
                resampled_rows(&lasers[i - 1], &info[i - 1], b, bi, rate_, startTime_, out);
            }
        }
    }

    // The lines of a piece's first pulse, after the pulse before it (none at
    // the survey's start).
    void lead(const LaserLine* a, const PulseInfo* ai, const TrajectoryEnds& piece, TextBuffer& out) const {
        resampled_rows(a, ai, piece.firstLaser, piece.firstInfo, rate_, startTime_, out);
    }

private:
    double startTime_;
    double rate_;
    bool resample_;
};

}  // namespace

std::unique_ptr<PieceFormatter> TrajectoryCsvSink::pieceFormatter(const SurveyContext&) const {
    return std::make_unique<TrajectoryCsvFormatter>(settings_);
}

void TrajectoryCsvSink::absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary) {
    ProductSink::absorb(first, count, summary);
    if (summary.data.empty()) return;  // not resampled, or no pulse
    const TrajectoryEnds ends = summary.get<TrajectoryEnds>();
    TextBuffer rows;
    TrajectoryCsvFormatter(settings_).lead(haveLast_ ? &lastLaser_ : nullptr, haveLast_ ? &lastInfo_ : nullptr,
                                           ends, rows);
    file_->file().write_raw(rows.data(), rows.size());
    haveLast_ = true;
    lastLaser_ = ends.lastLaser;
    lastInfo_ = ends.lastInfo;
}
