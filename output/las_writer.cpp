#include "output/las_writer.h"

#include "app/failure.h"
#include "app/progress.h"
#include "output/writing_loop.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Little-endian stores, independent of the host's byte order.
inline void store_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store_u32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void store_u64(std::uint8_t* p, std::uint64_t v) {
    store_u32(p, static_cast<std::uint32_t>(v));
    store_u32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void store_f64(std::uint8_t* p, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    store_u64(p, bits);
}

// Appends fields one after the other.
class HeaderCursor {
public:
    explicit HeaderCursor(std::uint8_t* p) : p_(p) {}
    void bytes(const void* src, std::size_t n) {
        std::memcpy(p_ + pos_, src, n);
        pos_ += n;
    }
    void u8(std::uint8_t v) { p_[pos_++] = v; }
    void u16(std::uint16_t v) { store_u16(p_ + pos_, v), pos_ += 2; }
    void u32(std::uint32_t v) { store_u32(p_ + pos_, v), pos_ += 4; }
    void f64(double v) { store_f64(p_ + pos_, v), pos_ += 8; }
    std::size_t position() const { return pos_; }

private:
    std::uint8_t* p_;
    std::size_t pos_ = 0;
};

// The signed 32-bit range in hundredths of a metre, as a text for messages.
const char* const kLasRangeText = "-21474836.48 m to 21474836.47 m";

const char* const kAxisNames[3] = {"x", "y", "z"};

}  // namespace

std::array<std::uint8_t, LasHeader::kSize> LasHeader::bytes() const {
    std::array<std::uint8_t, kSize> out{};
    HeaderCursor c(out.data());
    c.bytes(fileSignature, 4);
    c.u16(fileSourceId);
    c.u16(globalEncoding);
    c.u32(guidData1);
    c.u16(guidData2);
    c.u16(guidData3);
    c.bytes(guidData4, 8);
    c.u8(versionMajor);
    c.u8(versionMinor);
    c.bytes(systemIdentifier, 32);
    c.bytes(generatingSoftware, 32);
    c.u16(creationDayOfYear);
    c.u16(creationYear);
    c.u16(headerSize);
    c.u32(offsetToPointData);
    c.u32(numberOfVariableLengthRecords);
    c.u8(pointDataFormatId);
    c.u16(pointDataRecordLength);
    c.u32(numberOfPointRecords);
    for (std::uint32_t count : numberOfPointsByReturn) c.u32(count);
    for (double v : {xScale, yScale, zScale, xOffset, yOffset, zOffset, maxX, minX, maxY, minY, maxZ, minZ}) c.f64(v);
    // Every field above has its fixed place; the sum must be the block size.
    if (c.position() != kSize) throw std::logic_error("LAS header layout does not add up to 227 bytes");
    return out;
}

namespace {

// Widens the box by one point. Maxima take equal values too, minima only
// smaller ones; the difference shows only with signed zeros.
inline void widen(LasBounds& b, const Vec3& p) {
    if (p.x >= b.maxX) b.maxX = p.x;
    if (b.minX > p.x) b.minX = p.x;
    if (p.y >= b.maxY) b.maxY = p.y;
    if (b.minY > p.y) b.minY = p.y;
    if (p.z >= b.maxZ) b.maxZ = p.z;
    if (b.minZ > p.z) b.minZ = p.z;
}

// Widens the box by the box of a later run of points, with the same
// comparisons: the result is the one point by point widening gives (the
// last point equal to the maximum, the first equal to the minimum).
inline void widen(LasBounds& b, const LasBounds& later) {
    if (later.maxX >= b.maxX) b.maxX = later.maxX;
    if (b.minX > later.minX) b.minX = later.minX;
    if (later.maxY >= b.maxY) b.maxY = later.maxY;
    if (b.minY > later.minY) b.minY = later.minY;
    if (later.maxZ >= b.maxZ) b.maxZ = later.maxZ;
    if (b.minZ > later.minZ) b.minZ = later.minZ;
}

LasBounds first_point_box(const std::vector<LidarPoint>& points) {
    if (points.empty()) throw std::invalid_argument("las_bounds needs at least one point");
    const LidarPoint& first = points.front();
    return LasBounds{first.x, first.x, first.y, first.y, first.z, first.z};
}

}  // namespace

LasBounds las_bounds(const std::vector<LidarPoint>& points, const std::vector<LaserLine>& lasers) {
    LasBounds b = first_point_box(points);
    for (const LaserLine& laser : lasers)
        if (laser.hitFaceIndex != -1) widen(b, laser.hitPoint);
    return b;
}

std::uint16_t day_of_year(int day, int month, int year) {
    static const int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int n = kDaysBefore[(month - 1) % 12] + day;
    if (leap && month > 2) ++n;
    return static_cast<std::uint16_t>(n);
}

namespace las_detail {

// Portable variant: the rounding error of the double product, from a fused
// multiply-add, decides the side of a product that rounded onto a whole
// number.
bool scaled_coordinate_fma(double value, std::int32_t& out) {
    const double p = value * 100.0;
    double t = std::trunc(p);
    if (t == p) {
        const double err = std::fma(value, 100.0, -p);  // exact product = p + err
        if (p > 0 && err < 0) t -= 1.0;
        else if (p < 0 && err > 0) t += 1.0;
    }
    // When p is not whole, no integer lies between it and the exact product
    // (p is the double nearest to it), so trunc(p) is already right.
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
    out = static_cast<std::int32_t>(t);
    return true;
}

}  // namespace las_detail

bool las_scaled_coordinate(double value, std::int32_t& out) {
#if LDBL_MANT_DIG >= 64
    // A double times 100 needs at most 60 significant bits: the extended
    // product is exact, and truncating it (not a product rounded to double)
    // gives 2 for 0.03, whose double lies just below 0.03.
    const long double exact = static_cast<long double>(value) * 100.0L;
    if (!(exact > -2147483649.0L && exact < 2147483648.0L)) return false;
    out = static_cast<std::int32_t>(exact);  // truncation toward zero
    return true;
#else
    return las_detail::scaled_coordinate_fma(value, out);
#endif
}

namespace {

std::string refusal_text(const QString& path, int axis, double value, std::size_t laser, std::size_t count) {
    // One multi-argument arg(): a path holding "%4" must come through as typed.
    return QStringLiteral("Cannot save '%1' as LAS: the %2 coordinate %3 of laser %4 (of %5) "
                          "does not fit the format (%6 at a scale of 0.01). Nothing was written.")
        .arg(path, QLatin1String(kAxisNames[axis]), QString::number(value, 'g', 12), QString::number(laser + 1),
             QString::number(count), QLatin1String(kLasRangeText))
        .toStdString();
}

// Within this many metres of 0 every value fits; beyond it (and for NaN)
// the exact test decides.
constexpr double kSurelyFits = 21474836.0;

inline bool coordinate_fits(double value) {
    if (std::fabs(value) < kSurelyFits) return true;
    std::int32_t unused;
    return las_scaled_coordinate(value, unused);
}

// las_scaled_coordinate for a value already checked, without extended
// arithmetic for the common case: when the double product is not a whole
// number, no whole number lies between it and the exact product (it is
// the double nearest to it), so truncating it is right. Only products that
// rounded onto a whole number need the exact test.
inline std::int32_t checked_scaled_coordinate(double value) {
    std::int32_t out = 0;
    if (std::fabs(value) < kSurelyFits) {
        const double p = value * 100.0;
        out = static_cast<std::int32_t>(p);
        if (static_cast<double>(out) != p) return out;
    }
    las_scaled_coordinate(value, out);
    return out;
}

inline void encode_record(std::uint8_t* r, std::int32_t x, std::int32_t y, std::int32_t z) {
    store_u32(r, static_cast<std::uint32_t>(x));
    store_u32(r + 4, static_cast<std::uint32_t>(y));
    store_u32(r + 8, static_cast<std::uint32_t>(z));
    store_u16(r + 12, 0);  // intensity
    r[14] = 0;             // return number, number of returns, scan direction, edge: all 0
    r[15] = 1;             // classification
    r[16] = 1;             // scan angle rank
    r[17] = 1;             // user data
    store_u16(r + 18, 1);  // point source ID
}

constexpr std::size_t kRecord = LasHeader::kPointRecordLength;

// The records of one run of lasers, made while the run is checked, with
// where each laser's record lies: per block of 64 lasers the records
// before it and which of its lasers have one.
struct RunRecords {
    std::unique_ptr<std::uint8_t[]> bytes;  // room for a record per laser; the first `count` are made
    std::size_t count = 0;
    std::vector<std::uint32_t> before;
    std::vector<std::uint64_t> returns;

    // Records of the run's lasers before laser i (0 <= i <= the run's size).
    std::size_t before_laser(std::size_t i) const {
        const std::size_t block = i / 64, bit = i % 64;
        const std::uint64_t earlier = returns[block] & ((std::uint64_t(1) << bit) - 1);
        return before[block] + static_cast<std::size_t>(__builtin_popcountll(earlier));
    }
};

// What one run of lasers contributes to the check pass.
struct RunCheck {
    bool anyReturn = false;
    LasBounds box{};
    bool refused = false;  // the first coordinate that does not fit:
    int axis = 0;
    double value = 0.0;
    std::size_t laser = 0;
    RunRecords records;
};

// Checks lasers [begin, end), widens the run's box and, with `make`, makes
// their records.
template <bool make>
void check_run(const LaserLine* lasers, std::size_t begin, std::size_t end, RunCheck& run) {
    RunRecords& records = run.records;
    const std::size_t blocks = (end - begin) / 64 + 1;
    if (make) {
        records.bytes.reset(new std::uint8_t[(end - begin) * kRecord]);
        records.before.assign(blocks, 0);
        records.returns.assign(blocks, 0);
    }
    std::uint8_t* r = records.bytes.get();
    std::size_t made = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const std::size_t k = i - begin;
        if (make && k % 64 == 0) records.before[k / 64] = static_cast<std::uint32_t>(made);
        const LaserLine& laser = lasers[i];
        if (laser.hitFaceIndex == -1) continue;
        const Vec3& p = laser.hitPoint;
        if (run.anyReturn) {
            widen(run.box, p);
        } else {
            run.anyReturn = true;
            run.box = LasBounds{p.x, p.x, p.y, p.y, p.z, p.z};
        }
        const double v[3] = {p.x, p.y, p.z};
        for (int axis = 0; axis < 3; ++axis) {
            if (!coordinate_fits(v[axis])) {
                run.refused = true;
                run.axis = axis;
                run.value = v[axis];
                run.laser = i;
                return;
            }
        }
        if (make) {
            encode_record(r, checked_scaled_coordinate(p.x), checked_scaled_coordinate(p.y),
                          checked_scaled_coordinate(p.z));
            r += kRecord;
            ++made;
            records.returns[k / 64] |= std::uint64_t(1) << (k % 64);
        }
    }
    if (make && (end - begin) % 64 == 0) records.before[blocks - 1] = static_cast<std::uint32_t>(made);
    records.count = made;
}

// A chunk's records as its check made them.
struct CheckedChunk {
    const LaserLine* lasers = nullptr;
    std::uint64_t first = 0;
    std::size_t count = 0;
    std::vector<RunRecords> runs;  // kCheckRun lasers each
};

// Lasers per run of the check.
constexpr std::size_t kCheckRun = std::size_t(1) << 16;
// The records are made by the check for chunks up to this many lasers (a
// streamed survey's), whose records the formatting runs then copy while
// they are still in the cache. A larger chunk (a whole survey in memory)
// is read twice instead: its records would go to fresh memory and back,
// which costs as much as the second reading, and take room besides.
constexpr std::size_t kMadeByCheck = std::size_t(1) << 20;

// What a piece of the survey adds to the header.
class LasFormatter final : public PieceFormatter {
public:
    LasFormatter(const QString& path, std::uint64_t pulseCount) : path_(path), pulseCount_(pulseCount) {}

    // The box and the range check before the chunk's records are written:
    // runs of lasers are checked in parallel and their results taken in
    // laser order, so the first bad laser is named and the box is the one
    // a single pass gives. The records of a chunk of a streamed survey are
    // made in the same pass and kept for the format calls on this chunk
    // that follow (its lasers are read from memory once).
    void summarise(const PulseChunk& chunk, unsigned threads, PieceSummary& summary) const override {
        keep(nullptr);
        LasPieceSummary piece;
        piece.returns = chunk.pointCount;
        if (chunk.pointCount > 0) piece.first = chunk.points[0];
        const std::size_t count = chunk.count;
        const LaserLine* const all = chunk.lasers;
        std::vector<RunCheck> runs((count + kCheckRun - 1) / kCheckRun);
        const bool make = count <= kMadeByCheck;
        run_parallel(threads, runs.size(), [&](std::size_t r) {
            const std::size_t begin = r * kCheckRun, end = std::min(count, (r + 1) * kCheckRun);
            if (make)
                check_run<true>(all, begin, end, runs[r]);
            else
                check_run<false>(all, begin, end, runs[r]);
        });
        for (const RunCheck& run : runs) {
            if (run.refused) {
                summary.refusal = refusal_text(path_, run.axis, run.value,
                                               static_cast<std::size_t>(chunk.first) + run.laser,
                                               static_cast<std::size_t>(pulseCount_));
                return;
            }
            if (run.anyReturn) {
                if (!piece.anyReturn) {
                    piece.box = run.box;
                    piece.anyReturn = true;
                } else {
                    widen(piece.box, run.box);
                }
            }
        }
        summary.put(piece);
        if (!make) return;
        auto checked = std::make_shared<CheckedChunk>();
        checked->lasers = chunk.lasers;
        checked->first = chunk.first;
        checked->count = chunk.count;
        checked->runs.reserve(runs.size());
        for (RunCheck& run : runs) checked->runs.push_back(std::move(run.records));
        keep(std::move(checked));
    }

    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        const std::shared_ptr<const CheckedChunk> checked = kept();
        if (checked && checked->lasers == chunk.lasers && checked->first == chunk.first &&
            checked->count == chunk.count) {
            // The records made by the check, run by run.
            for (std::size_t r = begin / kCheckRun; r * kCheckRun < end; ++r) {
                const RunRecords& run = checked->runs[r];
                const std::size_t start = r * kCheckRun;
                const std::size_t from = run.before_laser(std::max(begin, start) - start);
                const std::size_t to = run.before_laser(std::min(end, start + kCheckRun) - start);
                const std::size_t size = (to - from) * kRecord;
                char* p = out.room(size);
                if (size != 0) std::memcpy(p, run.bytes.get() + from * kRecord, size);
                out.commit(p + size);
            }
            // The run that ends the chunk comes last: the records are not
            // needed any more (a later call would make them again).
            if (end == chunk.count) forget(checked);
            return;
        }
        // A chunk not checked here: the records from the lasers.
        const LaserLine* const all = chunk.lasers;
        // Room for every laser of the run; the misses take none of it.
        std::uint8_t* r = reinterpret_cast<std::uint8_t*>(out.room((end - begin) * kRecord));
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& laser = all[i];
            if (laser.hitFaceIndex == -1) continue;
            encode_record(r, checked_scaled_coordinate(laser.hitPoint.x), checked_scaled_coordinate(laser.hitPoint.y),
                          checked_scaled_coordinate(laser.hitPoint.z));
            r += kRecord;
        }
        out.commit(reinterpret_cast<char*>(r));
    }

private:
    void keep(std::shared_ptr<const CheckedChunk> checked) const {
        std::lock_guard<std::mutex> lock(keptMutex_);
        kept_ = std::move(checked);
    }
    void forget(const std::shared_ptr<const CheckedChunk>& checked) const {
        std::lock_guard<std::mutex> lock(keptMutex_);
        if (kept_ == checked) kept_.reset();
    }
    std::shared_ptr<const CheckedChunk> kept() const {
        std::lock_guard<std::mutex> lock(keptMutex_);
        return kept_;
    }

    QString path_;
    std::uint64_t pulseCount_;
    // The last chunk summarised, for its format calls.
    mutable std::mutex keptMutex_;
    mutable std::shared_ptr<const CheckedChunk> kept_;
};

}  // namespace

LasSink::LasSink(const QString& path, const QDate& date, unsigned threads, Progress* progress)
    : FileSink(path, "wb", threads, progress), date_(date) {}

std::unique_ptr<PieceFormatter> LasSink::pieceFormatter(const SurveyContext& context) const {
    return std::make_unique<LasFormatter>(path(), context.pulseCount);
}

void LasSink::begin(const SurveyContext& context) {
    FileSink::begin(context);
    haveBounds_ = false;
    points_ = 0;
    // The header's place; its count and bounds are known at the end.
    const auto placeholder = LasHeader().bytes();
    file().write_raw(placeholder.data(), placeholder.size());
}

void LasSink::absorb(std::uint64_t, std::size_t, const PieceSummary& summary) {
    if (!summary.refusal.empty()) {
        refused_ = true;
        throw OutputError(summary.refusal);
    }
    const LasPieceSummary piece = summary.get<LasPieceSummary>();
    // The box starts from the first return as the cast gave it (before the
    // error step), then widens over the hit points as they are now, piece
    // after piece as point after point.
    if (!haveBounds_ && piece.returns > 0) {
        bounds_ = LasBounds{piece.first.x, piece.first.x, piece.first.y, piece.first.y, piece.first.z, piece.first.z};
        haveBounds_ = true;
    }
    points_ += piece.returns;
    // The header counts points in 32 bits; a larger count would be cut.
    if (points_ > std::numeric_limits<std::uint32_t>::max()) {
        throw OutputError("Could not write '" + path().toStdString() + "': a LAS 1.2 file holds at most " +
                          std::to_string(std::numeric_limits<std::uint32_t>::max()) +
                          " points and this survey has more. Save the points as LAS 1.4 or as text.");
    }
    if (piece.anyReturn) {
        if (!haveBounds_) {
            bounds_ = piece.box;
            haveBounds_ = true;
        } else {
            widen(bounds_, piece.box);
        }
    }
}

void LasSink::finish() {
    LasHeader header;
    header.creationDayOfYear = day_of_year(date_.day(), date_.month(), date_.year());
    header.creationYear = static_cast<std::uint16_t>(date_.year());
    header.numberOfPointRecords = static_cast<std::uint32_t>(points_);
    if (haveBounds_) {
        header.maxX = bounds_.maxX;
        header.minX = bounds_.minX;
        header.maxY = bounds_.maxY;
        header.minY = bounds_.minY;
        header.maxZ = bounds_.maxZ;
        header.minZ = bounds_.minZ;
    }
    const auto bytes = header.bytes();
    file().write_at(0, bytes.data(), bytes.size());
    FileSink::finish();
}

void write_las_file(const std::vector<LidarPoint>& points, const std::vector<LaserLine>& lasers, const QString& path,
                    Progress& progress, const QDate& date, unsigned threads) {
    first_point_box(points);  // throws without a point
    LasSink sink(path, date, threads, &progress);
    feed_whole_survey(sink, lasers, &points);
}
