#include "output/piece_formatter.h"

#include <algorithm>

namespace {

// Pulses per run formatted on one thread.
constexpr std::size_t kRun = 8192;

}  // namespace

void format_piece(const PieceFormatter& formatter, const PulseChunk& chunk, unsigned threads, FormattedPiece& out) {
    out.summary = PieceSummary();
    out.bytes.clear();
    formatter.summarise(chunk, threads, out.summary);
    if (!out.summary.refusal.empty()) return;
    const std::size_t runs = (chunk.count + kRun - 1) / kRun;
    if (runs <= 1 || writer_threads(threads) == 1) {
        formatter.format(chunk, 0, chunk.count, out.bytes);
        return;
    }
    std::vector<TextBuffer> parts(runs);
    run_parallel(threads, runs, [&](std::size_t r) {
        formatter.format(chunk, r * kRun, std::min(chunk.count, (r + 1) * kRun), parts[r]);
    });
    for (const TextBuffer& part : parts) {
        char* p = out.bytes.room(part.size());
        if (part.size() != 0) std::memcpy(p, part.data(), part.size());
        out.bytes.commit(p + part.size());
    }
}
