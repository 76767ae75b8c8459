#pragma once
#include "products/product_sink.h"

#include <QString>
#include <cstddef>

class Progress;

// Fixed-point text of `value` with `decimals` digits after the point (0 to
// 9), rounded to nearest; p needs room for kMaxFixedText characters.
// Returns the end of the text.
constexpr std::size_t kMaxFixedText = 352;
char* put_fixed(char* p, double value, int decimals);
// The shortest text that reads back as exactly `value`.
char* put_exact(char* p, double value);

// The survey's returns as comma-separated text, one line per return in
// survey order after a header line:
//   x,y,z,gps_time,intensity,classification,flight_line,scan_angle_deg,return_number,number_of_returns
// x, y, z to the millimetre, gps_time (adjusted standard GPS time, as in
// the LAS 1.4 file) to the microsecond, the scan angle in degrees to three
// decimals; the other columns as the LAS 1.4 file holds them.
class PointCsvSink final : public ProductSink {
public:
    PointCsvSink(const QString& path, const ProductSettings& settings, Progress* progress = nullptr)
        : ProductSink(path, settings, progress) {}
    void begin(const SurveyContext& context) override;
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;
};

// The flight trajectory with time, full precision, after a header line:
//   time,x,y,z,roll,pitch,yaw
// time in adjusted standard GPS time, x y z the pulse origin, the attitude
// in degrees; every number written with the shortest text that reads back
// as the same double. Without a rate: one line per pulse. With a rate f:
// one line at every run time t = k / f (k whole) that lies between two
// consecutive pulses of the same flight line (or on a pulse), each value
// interpolated linearly in time between those two pulses; the turns
// between flight lines get no line.
class TrajectoryCsvSink final : public ProductSink {
public:
    TrajectoryCsvSink(const QString& path, const ProductSettings& settings, Progress* progress = nullptr)
        : ProductSink(path, settings, progress) {}
    void begin(const SurveyContext& context) override;
    // Resampled, the lines between two pulses belong to the later one: a
    // piece's formatter leaves out those of its first pulse, and its
    // summary carries its first and last pulses, from which absorb writes
    // them once the pulse before is known.
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;

protected:
    void absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary) override;

private:
    bool haveLast_ = false;  // the last pulse of the previous chunk
    LaserLine lastLaser_;
    PulseInfo lastInfo_;
};
