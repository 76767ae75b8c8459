#pragma once
#include "output/fast_number_text.h"

#include <cstddef>
#include <cstdint>

// Text rows of numbers for the text writers: each row is `columns` doubles
// of one record, written as put_g6_fast writes them, separated by blanks and
// ended by a line end. The records lie `stride` bytes apart from `first`;
// column c is the double at byte offsets[c] of a record.
//
// On processors with AVX-512 eight rows are formatted at once: every column
// of the eight is scaled, rounded and laid out as text side by side in
// vector registers, and only the values the fast routine would leave to the
// general one (zeros aside) go through it one by one. The text is
// put_g6_fast's in every case.
struct NumberRows {
    static constexpr int kMaxColumns = 12;

    const unsigned char* first = nullptr;
    std::size_t stride = 0;
    int columns = 0;
    std::uint32_t offsets[kMaxColumns] = {};
};

// Room a row needs at the write position: every value may take
// kMaxG6Text characters and its separator.
constexpr std::size_t row_room(int columns) { return static_cast<std::size_t>(columns) * (kMaxG6Text + 1); }

// Writes rows [begin, end) at p, which must have room for
// (end - begin) * row_room(columns) bytes; returns the end of the text.
char* put_number_rows(char* p, const NumberRows& rows, std::size_t begin, std::size_t end);

namespace g6_detail {
// The two ways, for tests: one value at a time, and eight rows at a time
// (with the rest one at a time), which only a processor with AVX-512 may
// call.
char* put_number_rows_scalar(char* p, const NumberRows& rows, std::size_t begin, std::size_t end);
char* put_number_rows_avx512(char* p, const NumberRows& rows, std::size_t begin, std::size_t end);
// Whether this processor has the AVX-512 subsets the fast way needs.
bool number_rows_avx512_available();
}  // namespace g6_detail
