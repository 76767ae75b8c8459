// Rows of numbers written eight at a time in vector registers must be the
// general routine's text, value for value, whatever mixes a column holds.
#include "app/number_text.h"
#include "output/number_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 9;

// Records laid out as the trajectory's lasers are: the numbers among other
// bytes, the records 112 bytes apart.
struct Record {
    double before;
    double values[kColumns];
    char after[32];
};

// Columns in record order (runs of three neighbours are read together) or
// in reverse (each one on its own).
NumberRows rows_of(const std::vector<Record>& records, int columns, bool reversed) {
    NumberRows rows;
    rows.first = reinterpret_cast<const unsigned char*>(records.data());
    rows.stride = sizeof(Record);
    rows.columns = columns;
    for (int c = 0; c < columns; ++c)
        rows.offsets[c] = static_cast<std::uint32_t>(offsetof(Record, values) + 8 * (reversed ? columns - 1 - c : c));
    return rows;
}

std::string expected_text(const std::vector<Record>& records, int columns, bool reversed) {
    std::string text;
    for (const Record& record : records) {
        for (int c = 0; c < columns; ++c) {
            append_g6(text, record.values[reversed ? columns - 1 - c : c]);
            text += c == columns - 1 ? '\n' : ' ';
        }
    }
    return text;
}

using Writer = char* (*)(char*, const NumberRows&, std::size_t, std::size_t);

// Writes all rows with `write` (in two calls, split at `split`) into exactly
// the room promised and checks the bytes after it are untouched; on a
// difference, names the first row that differs.
void expect_rows(Writer write, const std::vector<Record>& records, int columns, std::size_t split, bool reversed) {
    const NumberRows rows = rows_of(records, columns, reversed);
    constexpr std::size_t kGuard = 64;
    std::vector<char> buffer(records.size() * row_room(columns) + kGuard, '\x7f');
    char* end = write(buffer.data(), rows, 0, split);
    end = write(end, rows, split, records.size());
    const std::string actual(buffer.data(), end);
    for (std::size_t i = records.size() * row_room(columns); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x7f');
    const std::string expected = expected_text(records, columns, reversed);
    if (actual == expected) return;
    std::size_t row = 0, at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) row += expected[at++] == '\n';
    const std::size_t from = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t start = from == std::string::npos ? 0 : from + 1;
    FAIL() << "row " << row << ": expected \"" << expected.substr(start, expected.find('\n', start) - start)
           << "\", got \"" << actual.substr(start, actual.find('\n', start) - start) << "\"";
}

void expect_both_ways(const std::vector<Record>& records, int columns = kColumns, bool reversed = false) {
    // A tail in the first call, a start off the blocks in the second.
    const std::size_t split = std::min(records.size(), records.size() / 3 * 2 + 3);
    expect_rows(g6_detail::put_number_rows_scalar, records, columns, split, reversed);
    expect_rows(put_number_rows, records, columns, split, reversed);
    if (g6_detail::number_rows_avx512_available())
        expect_rows(g6_detail::put_number_rows_avx512, records, columns, split, reversed);
}

std::vector<Record> records_of(std::size_t n, const std::function<double(std::size_t, int)>& value) {
    std::vector<Record> records(n);
    for (std::size_t r = 0; r < n; ++r)
        for (int c = 0; c < kColumns; ++c) records[r].values[c] = value(r, c);
    return records;
}

double from_bits(std::uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

}  // namespace

// Every six-digit mantissa in every notation of the common range, each
// column holding one decimal exponent (the way a file's columns mostly
// are), and the same values shuffled so that every block mixes notations.
TEST(NumberRows, EverySixDigitMantissaInEveryLayout) {
    const int exponents[kColumns] = {5, 3, 0, -1, -4, -5, 4, 1, 2};
    std::vector<Record> records = records_of(900000 / 4 + 5, [&](std::size_t r, int c) {
        const double digits = 100000.0 + static_cast<double>((r * 4 + static_cast<std::size_t>(c) % 4) % 900000);
        const double v = digits * std::pow(10.0, exponents[c] - 5);
        return (r + static_cast<std::size_t>(c)) % 3 == 0 ? -v : v;
    });
    expect_both_ways(records);
    std::vector<double> all;
    for (const Record& record : records) all.insert(all.end(), record.values, record.values + kColumns);
    std::shuffle(all.begin(), all.end(), std::mt19937_64(7));
    for (std::size_t i = 0; i < all.size(); ++i) records[i / kColumns].values[i % kColumns] = all[i];
    expect_both_ways(records);
}

// Everything the vector lanes leave to the general routine, mixed with
// what they do themselves: zeros of both signs, NaN, infinities,
// subnormals, huge values, the edges of [1e-5, 1e6) and of every decade,
// near-ties and the carries into the next decade, arbitrary bit patterns.
TEST(NumberRows, SpecialValuesTiesAndCarriesInAnyMix) {
    using limits = std::numeric_limits<double>;
    std::vector<double> special = {0.0,         -0.0,         limits::quiet_NaN(), -limits::quiet_NaN(),
                                   limits::infinity(), -limits::infinity(), limits::denorm_min(), limits::min(),
                                   limits::max(), 1e-5,         1e6,                 999999.5,
                                   999999.4999, 9.999995e-6,  0.99999949999,       123456.5};
    for (int e = -8; e <= 8; ++e) {
        const double p = std::pow(10.0, e);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), 0.9999995 * p, 0.99999949 * p,
                         0.99999951 * p, 9.999995 * p})
            special.push_back(v);
    }
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> kind(0, 5), digits(100000, 999999), exponent(-8, 8), pick(0, 1 << 20);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<std::uint64_t> bits;
    const auto value = [&](std::size_t, int) {
        double v = 0.0;
        switch (kind(rng)) {
        case 0: v = special[static_cast<std::size_t>(pick(rng)) % special.size()]; break;
        case 1: v = from_bits(bits(rng)); break;
        case 2: v = (digits(rng) * 10 + 5) * std::pow(10.0, exponent(rng) - 6); break;  // a tie
        case 3: v = std::nextafter((digits(rng) * 10 + 5) * std::pow(10.0, exponent(rng) - 6), 0.0); break;
        default: v = mantissa(rng) * std::pow(10.0, exponent(rng)); break;
        }
        return pick(rng) % 2 ? -v : v;
    };
    expect_both_ways(records_of(100003, value));
    expect_both_ways(records_of(100003, value), kColumns, true);
    // The same kinds one kind to a column, and rows shorter than a block.
    const auto columnKind = [&](std::size_t r, int c) {
        const double v = c % 3 == 0 ? special[(r + static_cast<std::size_t>(c)) % special.size()] : value(r, c);
        return v;
    };
    expect_both_ways(records_of(50001, columnKind), 7);
    expect_both_ways(records_of(13, value), 1);
    expect_both_ways(records_of(0, value));
}
