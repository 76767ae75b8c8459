#pragma once
#include <string>

// append_g6 (stream-default "%g", six significant digits) made fast for the
// file writers, which format tens of millions of values. Ordinary values
// are formatted with one multiplication and integer digits; anything that
// could round differently (near-ties, zeros, huge, tiny, NaN, infinities)
// is handed to append_g6, so the text is always exactly append_g6's.
void append_g6_fast(std::string& out, double value);
