#include "calculator/calculator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The dialog's starting texts.
CalculatorInput defaults() { return {"60", "500", "1", "100", "10"}; }

TEST(Calculator, BlankCounting) {
    CalculatorOutcome out = calculate_flight_plan(defaults());
    EXPECT_EQ(out.error, "No blanks are left! ");
    CalculatorInput two = defaults();
    two.fov.clear();
    two.prf.clear();
    out = calculate_flight_plan(two);
    EXPECT_EQ(out.error, "More than one box is left empty! ");
    EXPECT_TRUE(out.value.isEmpty());
}

TEST(Calculator, DensityThenFieldOfViewBack) {
    CalculatorInput in = defaults();
    in.density.clear();
    CalculatorOutcome out = calculate_flight_plan(in);
    ASSERT_EQ(out.error, "");
    EXPECT_EQ(out.emptyBox, kDensityBox);
    // 10000 / (2 * 100 * 500 * tan 30 deg), with pi = 3.14159.
    EXPECT_EQ(out.value, "0.173205");

    in.density = out.value;
    in.fov.clear();
    out = calculate_flight_plan(in);
    ASSERT_EQ(out.error, "");
    EXPECT_EQ(out.emptyBox, kFovBox);
    // The true angle converted with 180 / 3.14159.
    EXPECT_EQ(out.value, "60.0001");
}

TEST(Calculator, EachUnknownSatisfiesTheRelation) {
    // D = p / (2 V H tan(F/2)), every value solved from the other four.
    const double F = 40, H = 800, V = 60, prf = 150;
    const double t = std::tan(F * 0.5 * 3.14159 / 180.0);
    const double D = prf * 1000 / (2 * V * H * t);  // a consistent set
    auto solve = [&](int box) {
        CalculatorInput in{QString::number(F), QString::number(H), QString::number(D, 'g', 17),
                           QString::number(V), QString::number(prf)};
        QString* fields[5] = {&in.fov, &in.height, &in.density, &in.velocity, &in.prf};
        fields[box]->clear();
        const CalculatorOutcome out = calculate_flight_plan(in);
        EXPECT_EQ(out.error, "");
        EXPECT_EQ(out.emptyBox, box);
        return out.value.toDouble();
    };
    EXPECT_NEAR(solve(kHeightBox), H, 1e-3);
    EXPECT_NEAR(solve(kVelocityBox), V, 1e-4);
    EXPECT_NEAR(solve(kPrfBox), prf, 1e-3);
    EXPECT_NEAR(solve(kDensityBox), D, 1e-5 * D);
    EXPECT_NEAR(solve(kFovBox), F, 1e-3);
}

TEST(Calculator, ChecksInOrderWithTheirMessages) {
    CalculatorInput in = defaults();
    in.density.clear();
    in.velocity = "-1";
    in.height = "-5";
    EXPECT_EQ(calculate_flight_plan(in).error, "Velocity should be positive!!");
    in.velocity = "100";
    EXPECT_EQ(calculate_flight_plan(in).error,
              "Flight is travelling at altitude lower than the highest point of terrain model!");
    in.height = "500";
    in.prf = "-10";
    EXPECT_EQ(calculate_flight_plan(in).error, "PRF should be greater than 0.");
    in.prf = "10";
    in.density = "-1";
    in.fov.clear();
    EXPECT_EQ(calculate_flight_plan(in).error, "Point Density should be greater than 0.");
    in.density.clear();
    in.fov = "180.5";
    EXPECT_EQ(calculate_flight_plan(in).error, "FOV should be between 0 - 180.");
    in.fov = "-0.5";
    EXPECT_EQ(calculate_flight_plan(in).error, "FOV should be between 0 - 180.");
    in.fov = "180";  // the bound itself passes
    EXPECT_EQ(calculate_flight_plan(in).error, "");
}

TEST(Calculator, NonNumbersReadAsZeroAndDivisionByZeroIsWritten) {
    CalculatorInput in = defaults();
    in.height.clear();
    in.velocity = "-";  // passes the validator, reads as 0
    const CalculatorOutcome out = calculate_flight_plan(in);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.value, "inf");
}

}  // namespace
