#pragma once
#include "products/product_sink.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class Progress;

// The LAS 1.4 public header block (375 bytes) as this program fills it for
// point data record format 6.
struct Las14Header {
    static constexpr std::size_t kSize = 375;
    static constexpr std::uint16_t kRecordLength = 30;

    std::uint16_t fileSourceId = 0;    // 0: the file holds every flight line of the survey
    std::uint16_t globalEncoding = 1;  // bit 0: adjusted standard GPS time; bit 4 (WKT) with a CRS
    std::uint16_t creationDayOfYear = 0;
    std::uint16_t creationYear = 0;
    std::uint32_t offsetToPointData = kSize;
    std::uint32_t numberOfVlrs = 0;
    std::uint64_t pointCount = 0;
    std::uint64_t pointsByReturn[15] = {};
    double scale[3] = {0.001, 0.001, 0.001};
    double offset[3] = {0.0, 0.0, 0.0};
    double max[3] = {0.0, 0.0, 0.0};
    double min[3] = {0.0, 0.0, 0.0};

    std::array<std::uint8_t, kSize> bytes() const;
};

// "SIMULATION": the points come from no real sensor.
extern const char* const kLas14SystemIdentifier;
// "Pointfall <version>".
std::string las14_generating_software();

// The coordinate offset of one axis: the model's minimum rounded down to a
// whole kilometre, known before the cast (a streamed run needs it then).
double las14_offset(double modelMinimum);

// A coordinate in units of 0.001 m above the offset, rounded to the nearest
// unit. false when it does not fit a signed 32-bit integer (or is not a
// number).
bool las14_quantise(double value, double offset, std::int32_t& out);

// A LAS 1.4 file, point data record format 6 (30-byte records), fed chunk
// by chunk: one record per pulse with a return, in survey order; return 1
// of 1; GPS time = start + the pulse's run time; scan direction and edge
// flags from the pulse's sweep; classification from the hit triangle;
// scan angle in 0.006 degree units; point source ID = flight line; user
// data 0. The header is written at begin with zero counts and bounds and
// completed at finish: the counts of the records written, the bounds the
// extents of the stored coordinates. With a CRS the OGC coordinate system
// WKT record ("LASF_Projection", 2112) follows the header. The creation
// date is the survey start's UTC day, so the file is the same on every run.
class Las14Sink final : public ProductSink {
public:
    Las14Sink(const QString& path, const ProductSettings& settings, Progress* progress = nullptr)
        : ProductSink(path, settings, progress) {}

    void begin(const SurveyContext& context) override;
    void finish() override;
    // The records of a chunk, its coordinates checked first; its summary
    // holds its record count and the extents of its stored coordinates.
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;

    std::uint64_t point_count() const { return header_.pointCount; }

protected:
    void absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary) override;

private:
    Las14Header header_;
    std::int64_t lo_[3] = {0, 0, 0}, hi_[3] = {0, 0, 0};
};
