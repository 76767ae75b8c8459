#pragma once
#include "output/writing_loop.h"
#include "survey/survey_sink.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// What a file needs to know of a piece of the survey beyond its bytes: the
// little its header takes from it (a point count, a bounding box, the
// pulses at its ends), laid out by the piece's formatter as one trivially
// copyable record, or the reason the file refuses the piece (a coordinate
// the format cannot hold). A refusal is the message of the OutputError the
// sink throws when it takes the piece.
struct PieceSummary {
    std::string refusal;
    std::vector<unsigned char> data;

    template <typename T>
    void put(const T& value) {
        static_assert(std::is_trivially_copyable<T>::value, "a summary travels as bytes");
        data.resize(sizeof value);
        std::memcpy(data.data(), &value, sizeof value);
    }
    template <typename T>
    T get() const {
        static_assert(std::is_trivially_copyable<T>::value, "a summary travels as bytes");
        if (data.size() != sizeof(T)) throw std::logic_error("a piece summary of the wrong size");
        T value;
        std::memcpy(&value, data.data(), sizeof value);
        return value;
    }
};

// A piece of a file formatted away from the file: its bytes and summary.
struct FormattedPiece {
    PieceSummary summary;
    TextBuffer bytes;
};

// Turns runs of pulses into the bytes of one file, without touching the
// file: the one formatting code of a sink, used by the sink itself on the
// chunks it consumes and, in a run over several processes, by every
// process on the pieces it casts. Made by the sink from the survey's
// context (PiecewiseSink::pieceFormatter); const afterwards, so threads
// share it.
class PieceFormatter {
public:
    virtual ~PieceFormatter() = default;
    // Whether format needs the chunk's PulseInfo records.
    virtual bool needsInfo() const { return false; }
    // Checks the chunk and sums up what the header needs from it, on up to
    // `threads` threads. The default has nothing to say.
    virtual void summarise(const PulseChunk& /*chunk*/, unsigned /*threads*/, PieceSummary& /*summary*/) const {}
    // Appends the bytes of the chunk's pulses [begin, end) (indices into
    // the chunk) to `out`; called for disjoint runs from several threads.
    virtual void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const = 0;
};

// Summarises and formats a whole chunk into memory, on up to `threads`
// threads (runs of a few thousand pulses each). A refused chunk gets no
// bytes.
void format_piece(const PieceFormatter& formatter, const PulseChunk& chunk, unsigned threads, FormattedPiece& out);

// A file product whose bytes can be formatted piece by piece elsewhere and
// appended here in survey order. consume(chunk) formats through the same
// formatter that pieceFormatter makes.
class PiecewiseSink : public SurveySink {
public:
    // The formatter of this sink for a survey; opens no file and needs no
    // begin, so any process that knows the options and the model can make
    // it.
    virtual std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const = 0;
    // Takes pulses [first, first + count), formatted elsewhere by a
    // formatter made for this survey, in place of consume: in survey order,
    // after begin, and mixed with consume as the pieces come. Throws
    // OutputError for a refused piece or a failed write.
    virtual void consumeFormatted(std::uint64_t first, std::size_t count, const FormattedPiece& piece) = 0;
};
