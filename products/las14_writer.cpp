#include "products/las14_writer.h"

#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#ifndef POINTFALL_VERSION
#define POINTFALL_VERSION "4.0"
#endif

const char* const kLas14SystemIdentifier = "SIMULATION";

std::string las14_generating_software() { return std::string("Pointfall ") + POINTFALL_VERSION; }

namespace {

inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_double(std::uint8_t* p, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64(p, bits);
}
void put_text(std::uint8_t* p, std::size_t size, const std::string& text) {
    std::memset(p, 0, size);
    std::memcpy(p, text.data(), std::min(size, text.size()));
}

constexpr std::size_t kVlrHeader = 54;
constexpr double kScale = 0.001;
constexpr std::int64_t kNoPoint = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::array<std::uint8_t, Las14Header::kSize> Las14Header::bytes() const {
    std::array<std::uint8_t, kSize> b{};
    std::uint8_t* p = b.data();
    std::memcpy(p, "LASF", 4);
    put16(p + 4, fileSourceId);
    put16(p + 6, globalEncoding);
    // 8..23: project GUID, zero
    p[24] = 1;
    p[25] = 4;
    put_text(p + 26, 32, kLas14SystemIdentifier);
    put_text(p + 58, 32, las14_generating_software());
    put16(p + 90, creationDayOfYear);
    put16(p + 92, creationYear);
    put16(p + 94, static_cast<std::uint16_t>(kSize));
    put32(p + 96, offsetToPointData);
    put32(p + 100, numberOfVlrs);
    p[104] = 6;
    put16(p + 105, kRecordLength);
    // 107..130: the legacy point counts stay 0, as they must for formats 6 to 10.
    for (int a = 0; a < 3; ++a) {
        put_double(p + 131 + 8 * a, scale[a]);
        put_double(p + 155 + 8 * a, offset[a]);
        put_double(p + 179 + 16 * a, max[a]);
        put_double(p + 187 + 16 * a, min[a]);
    }
    // 227: waveform data packets, 235: first extended VLR, 243: number of
    // extended VLRs: none.
    put64(p + 247, pointCount);
    for (int r = 0; r < 15; ++r) put64(p + 255 + 8 * r, pointsByReturn[r]);
    return b;
}

double las14_offset(double modelMinimum) {
    if (!std::isfinite(modelMinimum)) return 0.0;
    return std::floor(modelMinimum / 1000.0) * 1000.0;
}

bool las14_quantise(double value, double offset, std::int32_t& out) {
    const double units = std::nearbyint((value - offset) / kScale);
    if (!(units >= -2147483648.0 && units <= 2147483647.0)) return false;
    out = static_cast<std::int32_t>(units);
    return true;
}

void Las14Sink::begin(const SurveyContext& context) {
    const SimulationData& data = *context.data;
    header_ = Las14Header{};
    header_.creationYear = static_cast<std::uint16_t>(settings_.start.year);
    header_.creationDayOfYear = static_cast<std::uint16_t>(settings_.start.dayOfYear);
    header_.offset[0] = las14_offset(data.minX);
    header_.offset[1] = las14_offset(data.minY);
    header_.offset[2] = las14_offset(data.minZ);
    for (int a = 0; a < 3; ++a) {
        lo_[a] = kNoPoint;
        hi_[a] = -kNoPoint;
    }

    std::vector<std::uint8_t> vlr;
    if (settings_.crs) {
        const std::string& wkt = settings_.crs->wkt;
        const std::size_t length = wkt.size() + 1;  // null-terminated
        if (length > 65535)
            throw OutputError("The WKT of \"" + settings_.crs->code + "\" is too long for a LAS record.");
        vlr.assign(kVlrHeader + length, 0);
        put_text(vlr.data() + 2, 16, "LASF_Projection");
        put16(vlr.data() + 18, 2112);
        put16(vlr.data() + 20, static_cast<std::uint16_t>(length));
        put_text(vlr.data() + 22, 32, "OGC coordinate system WKT");
        std::memcpy(vlr.data() + kVlrHeader, wkt.data(), wkt.size());
        header_.globalEncoding |= 16;
        header_.numberOfVlrs = 1;
    }
    header_.offsetToPointData = static_cast<std::uint32_t>(Las14Header::kSize + vlr.size());

    open(context);
    const auto bytes = header_.bytes();  // counts and bounds follow at finish
    file_->file().write_raw(bytes.data(), bytes.size());
    if (!vlr.empty()) file_->file().write_raw(vlr.data(), vlr.size());
}

namespace {

// What a piece adds to the header: its records and the extents of their
// stored coordinates.
struct Extents {
    std::int64_t lo[3] = {kNoPoint, kNoPoint, kNoPoint};
    std::int64_t hi[3] = {-kNoPoint, -kNoPoint, -kNoPoint};
    std::uint64_t count = 0;
};

// A run's extents, or the first pulse whose return does not fit.
struct RunExtents {
    Extents extents;
    bool refused = false;
    std::size_t first = 0;
    int axis = 0;
};

class Las14Formatter final : public PieceFormatter {
public:
    Las14Formatter(const SimulationData& data, const ProductSettings& settings, const QString& path)
        : attributes_(data, settings.intensity, data.laserlines.lineStarts.size()),
          offset_{las14_offset(data.minX), las14_offset(data.minY), las14_offset(data.minZ)},
          startTime_(settings.start.adjustedGpsTime),
          path_(path.toStdString()) {}

    bool needsInfo() const override { return true; }

    // The extents and the range check, run by run in parallel, taken in
    // survey order: the first return that does not fit is the one named.
    void summarise(const PulseChunk& chunk, unsigned threads, PieceSummary& summary) const override {
        const std::size_t n = chunk.count;
        const LaserLine* const lasers = chunk.lasers;
        constexpr std::size_t kRun = std::size_t(1) << 16;
        std::vector<RunExtents> runs((n + kRun - 1) / kRun);
        run_parallel(threads, runs.size(), [&](std::size_t r) {
            RunExtents& run = runs[r];
            Extents& e = run.extents;
            const std::size_t end = std::min(n, (r + 1) * kRun);
            for (std::size_t i = r * kRun; i < end; ++i) {
                const LaserLine& l = lasers[i];
                if (l.hitFaceIndex == -1) continue;
                const double v[3] = {l.hitPoint.x, l.hitPoint.y, l.hitPoint.z};
                for (int a = 0; a < 3; ++a) {
                    std::int32_t q;
                    if (!las14_quantise(v[a], offset_[a], q)) {
                        run.refused = true;
                        run.first = i;
                        run.axis = a;
                        return;
                    }
                    e.lo[a] = std::min<std::int64_t>(e.lo[a], q);
                    e.hi[a] = std::max<std::int64_t>(e.hi[a], q);
                }
                ++e.count;
            }
        });
        Extents piece;
        for (const RunExtents& run : runs) {
            if (run.refused) {
                const char axes[] = "xyz";
                const LaserLine& l = lasers[run.first];
                const double v[3] = {l.hitPoint.x, l.hitPoint.y, l.hitPoint.z};
                summary.refusal = "LAS file \"" + path_ + "\": the " + std::string(1, axes[run.axis]) +
                                  " coordinate " + std::to_string(v[run.axis]) + " of pulse " +
                                  std::to_string(chunk.first + run.first + 1) +
                                  " is too far from the offset to be stored in millimetres.";
                return;
            }
            for (int a = 0; a < 3; ++a) {
                piece.lo[a] = std::min(piece.lo[a], run.extents.lo[a]);
                piece.hi[a] = std::max(piece.hi[a], run.extents.hi[a]);
            }
            piece.count += run.extents.count;
        }
        summary.put(piece);
    }

    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        const LaserLine* const lasers = chunk.lasers;
        const PulseInfo* const info = chunk.info;
        std::uint8_t* r = reinterpret_cast<std::uint8_t*>(out.room((end - begin) * Las14Header::kRecordLength));
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& l = lasers[i];
            if (l.hitFaceIndex == -1) continue;
            const PulseInfo& p = info[i];
            std::int32_t q[3];
            las14_quantise(l.hitPoint.x, offset_[0], q[0]);
            las14_quantise(l.hitPoint.y, offset_[1], q[1]);
            las14_quantise(l.hitPoint.z, offset_[2], q[2]);
            const std::uint8_t cls = attributes_.classification(l.hitFaceIndex);
            const double angle = std::nearbyint(attributes_.scan_angle(l, p.line) / 0.006);
            const std::int16_t scanAngle =
                static_cast<std::int16_t>(angle > 30000.0 ? 30000.0 : (angle < -30000.0 ? -30000.0 : angle));
            put32(r, static_cast<std::uint32_t>(q[0]));
            put32(r + 4, static_cast<std::uint32_t>(q[1]));
            put32(r + 8, static_cast<std::uint32_t>(q[2]));
            put16(r + 12, attributes_.intensity(l, cls));
            r[14] = 0x11;  // return 1 of 1
            r[15] = static_cast<std::uint8_t>(((p.flags & PulseInfo::kScanForward) ? 0x40 : 0) |
                                              ((p.flags & PulseInfo::kSweepEdge) ? 0x80 : 0));
            r[16] = cls;
            r[17] = 0;  // user data
            put16(r + 18, static_cast<std::uint16_t>(scanAngle));
            put16(r + 20, static_cast<std::uint16_t>(std::min<std::uint32_t>(p.line, 65535)));
            put_double(r + 22, startTime_ + p.time);
            r += Las14Header::kRecordLength;
        }
        out.commit(reinterpret_cast<char*>(r));
    }

private:
    ReturnAttributes attributes_;
    double offset_[3];
    double startTime_;
    std::string path_;
};

}  // namespace

std::unique_ptr<PieceFormatter> Las14Sink::pieceFormatter(const SurveyContext& context) const {
    return std::make_unique<Las14Formatter>(*context.data, settings_, path_);
}

void Las14Sink::absorb(std::uint64_t, std::size_t, const PieceSummary& summary) {
    if (!summary.refusal.empty()) throw OutputError(summary.refusal);
    const Extents piece = summary.get<Extents>();
    for (int a = 0; a < 3; ++a) {
        lo_[a] = std::min(lo_[a], piece.lo[a]);
        hi_[a] = std::max(hi_[a], piece.hi[a]);
    }
    header_.pointCount += piece.count;
}

void Las14Sink::finish() {
    header_.pointsByReturn[0] = header_.pointCount;
    for (int a = 0; a < 3; ++a) {
        if (header_.pointCount == 0) {
            header_.min[a] = header_.max[a] = 0.0;
        } else {
            header_.min[a] = static_cast<double>(lo_[a]) * kScale + header_.offset[a];
            header_.max[a] = static_cast<double>(hi_[a]) * kScale + header_.offset[a];
        }
    }
    const auto bytes = header_.bytes();
    file_->finish(bytes.data(), bytes.size(), 0);
    file_.reset();
}
