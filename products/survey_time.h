#pragma once
#include <cstdint>
#include <string>

// The time base of the survey products: points and trajectory samples carry
// adjusted standard GPS time (GPS seconds since 1980-01-06 00:00:00 minus
// 1e9, as LAS 1.4 stores it), the survey's start instant plus the pulse's
// run time.

// When --start-time is not given: output stays the same from run to run.
constexpr const char* kDefaultStartTime = "2024-01-01T00:00:00Z";

struct SurveyStart {
    double adjustedGpsTime = 0.0;  // of the start instant
    int year = 0;                  // UTC calendar date of the start
    int dayOfYear = 0;             // 1..366
};

// Reads an ISO 8601 UTC instant: "YYYY-MM-DD", "YYYY-MM-DDThh:mm",
// "YYYY-MM-DDThh:mm:ss" or with a decimal fraction of seconds, each with an
// optional "Z" or a "+hh:mm"/"-hh:mm" offset (a space may stand for the
// "T"); no date before the GPS epoch (1980-01-06). The GPS-UTC difference
// comes from the leap seconds inserted since 1980 (18 s since 2017-01-01;
// none has been announced since). Throws InputError naming the text and
// what is wrong with it.
SurveyStart parse_survey_start(const std::string& text);

// GPS minus UTC, in seconds, at the UTC instant `unixSeconds`.
int gps_utc_offset(std::int64_t unixSeconds);

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(int year, int month, int day);
