#pragma once
#include "flight/laser_line.h"
#include "lidar/lidar_point.h"
#include "output/file_sink.h"

#include <QDate>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

class Progress;

// LAS 1.2 public header block, point data format 0, no variable length
// records. Defaults are what this program writes; the writer fills in the
// date, the point count and the bounds.
struct LasHeader {
    static constexpr std::size_t kSize = 227;
    static constexpr std::uint16_t kPointRecordLength = 20;

    char fileSignature[4] = {'L', 'A', 'S', 'F'};
    std::uint16_t fileSourceId = 0;
    std::uint16_t globalEncoding = 0;
    std::uint32_t guidData1 = 0;
    std::uint16_t guidData2 = 0;
    std::uint16_t guidData3 = 0;
    std::uint8_t guidData4[8] = {};
    std::uint8_t versionMajor = 1;
    std::uint8_t versionMinor = 2;
    char systemIdentifier[32] = {};
    char generatingSoftware[32] = {'P', 'o', 'i', 'n', 't', 'f', 'a', 'l', 'l'};
    std::uint16_t creationDayOfYear = 0;
    std::uint16_t creationYear = 0;
    std::uint16_t headerSize = kSize;
    std::uint32_t offsetToPointData = kSize;
    std::uint32_t numberOfVariableLengthRecords = 0;
    std::uint8_t pointDataFormatId = 0;
    std::uint16_t pointDataRecordLength = kPointRecordLength;
    std::uint32_t numberOfPointRecords = 0;
    std::uint32_t numberOfPointsByReturn[5] = {};
    double xScale = 0.01, yScale = 0.01, zScale = 0.01;
    double xOffset = 0.0, yOffset = 0.0, zOffset = 0.0;
    double maxX = 0.0, minX = 0.0, maxY = 0.0, minY = 0.0, maxZ = 0.0, minZ = 0.0;

    // The 227 bytes as stored, little-endian whatever the host.
    std::array<std::uint8_t, kSize> bytes() const;
};

// Header bounds, in header order.
struct LasBounds {
    double maxX, minX, maxY, minY, maxZ, minZ;
};

// Starts from points[0] (which must exist) and widens over the hitPoints of
// the lasers with a return.
LasBounds las_bounds(const std::vector<LidarPoint>& points, const std::vector<LaserLine>& lasers);

// 1 for 1 January .. 365 (366 in a Gregorian leap year) for 31 December.
std::uint16_t day_of_year(int day, int month, int year);

// A coordinate in hundredths of a metre: the exact product value * 100
// truncated toward zero. false when it does not fit a signed 32-bit
// integer (or is not a number).
bool las_scaled_coordinate(double value, std::int32_t& out);

namespace las_detail {
// The same result without extended precision (fused multiply-add); used
// where long double is no wider than double, and tested everywhere.
bool scaled_coordinate_fma(double value, std::int32_t& out);
}  // namespace las_detail

// The LAS 1.2 file as a survey sink, fed chunk by chunk: a header with the
// point count (the chunks' cast returns) and bounds put in at the end, and
// one 20-byte record per laser with a return. The bounds start from the
// first cast return and widen over the hit points of the records. Each
// chunk's coordinates are checked before its records are written: one that
// does not fit throws OutputError naming the axis, the value and the laser
// (its survey index, of the survey's count); the caller then abandons the
// sink and no file is left under the final name.
class LasSink final : public FileSink {
public:
    LasSink(const QString& path, const QDate& date, unsigned threads = 0, Progress* progress = nullptr);
    void begin(const SurveyContext& context) override;
    void finish() override;
    // The records of a chunk, its coordinates checked first; its summary
    // holds its cast return count, its first cast return and the box of its
    // hit points, which absorb merges as one pass over the survey would.
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;
    // Whether the last consume refused a coordinate.
    bool refused() const { return refused_; }

protected:
    void absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary) override;

private:
    QDate date_;
    bool haveBounds_ = false;
    LasBounds bounds_{};
    std::uint64_t points_ = 0;
    bool refused_ = false;
};

// Writes the header and one 20-byte record per laser with a return. `date`
// is the local date stamped into the header (the save task passes today's).
// Before anything is opened, every coordinate is checked: one that does not
// fit the format throws OutputError naming the axis, the value and the
// laser, and the file is left as it was. Written and reported as
// write_point_file (output/point_file.h). The check and the records are done on
// `threads` threads (0: one per hardware thread); the file, the refusal
// and the progress are the same for any number.
void write_las_file(const std::vector<LidarPoint>& points, const std::vector<LaserLine>& lasers, const QString& path,
                    Progress& progress, const QDate& date, unsigned threads = 0);
