#pragma once
#include "products/crs.h"
#include "products/survey_time.h"

#include <optional>
#include <string>

// What the survey products are asked for, beside their file names.
struct ProductSettings {
    SurveyStart start = parse_survey_start(kDefaultStartTime);
    std::optional<SurveyCrs> crs;  // none: no CRS record
    bool intensity = true;         // false: every intensity is 0
    double trajectoryRate = 0.0;   // Hz; 0: one trajectory line per pulse
    unsigned threads = 0;          // formatting threads (0: one per hardware thread)
};
