// Text that only looks like a number ("1,5" with a decimal comma) would read
// as 0: every number field of the wizard, the error dialog and the
// calculator refuses it, naming the field, after the blank checks and before
// the value checks.
#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>

#include "calculator/gui/Calculator.h"
#include "errors/gui/Error_Introduction.h"
#include "flight/gui/flight_trajectory.h"
#include "flight/gui/real_trajectory.h"
#include "flight/gui/sensor_movement_details.h"
#include "support/gui_test_support.h"

using gui_test::type_into;

namespace {

QString comma(const QString& field, const QString& text) {
    return field + ": \"" + text + "\" is not a number. Use a decimal point, e.g. 1.5.";
}

// A field, the text typed, and the box the button then shows ("" = none).
using Step = std::tuple<const char*, const char*, QString>;

void play(QDialog& dialog, const char* button, const std::vector<Step>& steps) {
    for (const auto& [field, text, message] : steps) {
        SCOPED_TRACE(std::string(field) + " = '" + text + "'");
        dialog.show();
        if (*field) type_into(dialog.findChild<QLineEdit*>(field), text);
        EXPECT_EQ(gui_test::click_catching_boxes(dialog.findChild<QPushButton*>(button)),
                  gui_test::error_box(message));
    }
}

class DecimalComma : public ::testing::Test {
protected:
    void SetUp() override { flight.prepare(345.0, 400.0); }
    flight_trajectory flight;
    sensor_movement_details* sensor() { return flight.sensorPage(); }
    real_trajectory* real() { return sensor()->realPage(); }
};

TEST_F(DecimalComma, FlightAndScannerPagesNameTheFieldAfterTheBlankCheck) {
    const QString blank = QStringLiteral("One or more entires are left blank!!");
    play(flight, "Cancel",
         {{"PlaneVelocity_2", "1,5", comma("Flight Velocity", "1,5")},
          {"Overlap", "", blank},  // a blank is still reported first
          {"Overlap", "12,5", comma("Flight Velocity", "1,5")},
          {"PlaneVelocity_2", "1.5", comma("Overlap Percentage", "12,5")},
          {"Overlap", "1,000", comma("Overlap Percentage", "1,000")},
          {"Overlap", "12.5", ""}});
    EXPECT_EQ(flight.flightValues().velocity, 1.5);
    EXPECT_EQ(flight.flightValues().overlap, 12.5);

    play(*sensor(), "Next",
         {{"PRF_3", "1,5", comma("Pulse Repetition Frequency", "1,5")},
          {"PRF_3", "2e", "Pulse Repetition Frequency: \"2e\" is not a number."},
          {"PRF_3", "1.5", ""}});
    // The along-track field is disabled (not elliptical) and not used: not checked.
    sensor()->findChild<QLineEdit*>("FOValong_3")->setText("1,5");
    play(*sensor(), "Next", {{"", "", ""}});
}

TEST_F(DecimalComma, RealisticTermsAreCheckedOnlyWhileTheSwitchIsOn) {
    QSignalSpy ran(real(), &real_trajectory::successfully_ran);
    real()->findChild<QCheckBox*>("RealTrajectory")->click();
    play(*real(), "pushButton", {{"By", "0,25", comma("Term B of y", "0,25")}});
    EXPECT_TRUE(ran.isEmpty());
    real()->findChild<QCheckBox*>("RealTrajectory")->click();  // off: the boxes are not read
    play(*real(), "pushButton", {{"", "", ""}});
    EXPECT_EQ(ran.count(), 1);
}

TEST(DecimalCommaErrors, OnlyTheCheckedGroupsAfterTheirBlanks) {
    Error_Introduction dialog;
    dialog.findChild<QCheckBox*>("Sys_checkbox")->click();
    play(dialog, "pushButton_2",
         {{"Roll_sys", "0,5", comma("Systematic Error Roll", "0,5")},
          {"Yaw_sys", "", "One or more entires are left blank!"},
          {"Yaw_sys", "0.5", comma("Systematic Error Roll", "0,5")},
          {"Roll_sys", "-0.5", ""}});
    dialog.findChild<QCheckBox*>("Overall_checkbox")->click();  // all off (systematic was on)
    dialog.findChild<QCheckBox*>("Overall_checkbox")->click();  // overall on, systematic's "0,5" unused
    type_into(dialog.findChild<QLineEdit*>("Roll_sys"), "0,5");
    play(dialog, "pushButton_2",
         {{"Z_Overall", "0,1", comma("Overall Error Z", "0,1")}, {"Z_Overall", "0.1", ""}});
}

TEST(DecimalCommaCalculator, RefusedBeforeAnythingIsWritten) {
    Calculator dialog;
    auto* density = dialog.findChild<QLineEdit*>("PointDensity");
    type_into(density, "");
    play(dialog, "Calculate", {{"Velocity", "1,5", comma("Flight Average Velocity", "1,5")}});
    EXPECT_TRUE(density->text().isEmpty());
    play(dialog, "Calculate", {{"Velocity", "1.5", ""}});
    EXPECT_FALSE(density->text().isEmpty() || density->text().contains("inf"));
}

// The fields take a decimal point whatever the user's locale, so the advice
// in the message can be followed.
TEST(DecimalCommaLocale, ADecimalPointCanBeTypedUnderACommaLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    {
        flight_trajectory flight;
        flight.prepare(10.0, 400.0);
        flight.show();
        type_into(flight.findChild<QLineEdit*>("PlaneVelocity_2"), "1.5");
        EXPECT_EQ(flight.flightValues().velocity, 1.5);
    }
    QLocale::setDefault(before);
}

}  // namespace
