#pragma once
#include <cstddef>
#include <string>

// append_g6 (stream-default "%g", six significant digits) made fast for the
// file writers, which format tens of millions of values. Ordinary values
// are formatted with one multiplication and integer digits; anything that
// could round differently (near-ties, zeros, huge, tiny, NaN, infinities)
// goes through the general routine, so the text is always exactly
// append_g6's.
void append_g6_fast(std::string& out, double value);

// The longest text put_g6_fast writes ("-1.23457e+308" and the like are
// 13 characters), with a margin.
constexpr std::size_t kMaxG6Text = 24;

// The same text written at p, which must have room for kMaxG6Text
// characters; returns the end of the text.
char* put_g6_fast(char* p, double value);
