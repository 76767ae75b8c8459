#include "calculator/calculator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Calculator, DensityThenFieldOfViewBack) {
    CalculatorInput in{"60", "500", "", "100", "10"};
    CalculatorOutcome out = calculate_flight_plan(in);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.emptyBox, kDensityBox);
    EXPECT_EQ(out.value, "0.173205");  // 10000 / (2 * 100 * 500 * tan 30 deg), with pi = 3.14159

    in.density = out.value;
    in.fov.clear();
    out = calculate_flight_plan(in);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.emptyBox, kFovBox);
    EXPECT_EQ(out.value, "60.0001");  // the true angle converted with 180 / 3.14159
}

TEST(Calculator, EachEmptyBoxIsSolvedFromTheOtherFour) {
    // A consistent set in box order (FOV, height, density, velocity, PRF): D = p / (2 V H tan(F / 2)).
    const double values[5] = {40, 800, 150000 / (2 * 60 * 800 * std::tan(20 * 3.14159 / 180)), 60, 150};
    for (int box = kFovBox; box <= kPrfBox; ++box) {
        QString t[5];
        for (int k = 0; k < 5; ++k) t[k] = k == box ? QString() : QString::number(values[k], 'g', 17);
        const CalculatorOutcome out = calculate_flight_plan({t[0], t[1], t[2], t[3], t[4]});
        EXPECT_EQ(out.emptyBox, box);
        EXPECT_NEAR(out.value.toDouble(), values[box], 1e-5 * values[box]) << box;
    }
}

TEST(Calculator, ChecksInOrderWithTheirMessages) {
    // Each row breaks the checks from its message on, so a check moved earlier shows.
    const std::pair<CalculatorInput, QString> cases[] = {
        {{"60", "500", "1", "100", "10"}, "No blanks are left! "},
        {{"", "500", "1", "100", ""}, "More than one box is left empty! "},
        // A decimal comma would read as 0 (and give inf); blanks come first.
        {{"60", "", "1,5", "1,5", ""}, "More than one box is left empty! "},
        {{"60", "500", "1,5", "-1", ""}, "Point Density: \"1,5\" is not a number. Use a decimal point, e.g. 1.5."},
        {{"6e", "500", "1", "1,5", ""}, "FOV Across: \"6e\" is not a number."},
        {{"60", "-5", "1", "-", ""},  // a lone sign still reads as 0
         "Flight is travelling at altitude lower than the highest point of terrain model!"},
        {{"60", "-5", "", "-1", "-10"}, "Velocity should be positive!!"},
        {{"60", "-5", "", "100", "-10"}, "Flight is travelling at altitude lower than the highest point of terrain model!"},
        {{"", "500", "-1", "100", "-10"}, "PRF should be greater than 0."},
        {{"200", "500", "-1", "100", ""}, "Point Density should be greater than 0."},
        {{"-1", "500", "10", "100", ""}, "FOV should be between 0 - 180."},
        {{"180.5", "500", "", "100", "10"}, "FOV should be between 0 - 180."},
        {{"180", "500", "", "100", "10"}, ""},
    };
    for (const auto& [in, error] : cases) {
        const CalculatorOutcome out = calculate_flight_plan(in);
        EXPECT_EQ(out.error, error) << in.fov.toStdString() << " " << in.height.toStdString();
        EXPECT_EQ(out.value.isEmpty(), !error.isEmpty()) << error.toStdString();
    }
}

}  // namespace
