// The flight planning calculator dialog: the value lands in the one empty box
// and a refusal comes as an "Error" box (the arithmetic is checked with the
// calculator's own functions).
#include <QPushButton>

#include "calculator/gui/Calculator.h"
#include "support/gui_test_support.h"

using gui_test::type_into;

namespace {

TEST(CalculatorDialog, WritesTheResultIntoTheEmptyBoxOrShowsTheError) {
    Calculator dialog;
    dialog.show();
    auto edit = [&](const char* name) { return dialog.findChild<QLineEdit*>(name); };
    auto* calculate = dialog.findChild<QPushButton*>("Calculate");

    type_into(edit("PointDensity"), "");
    type_into(edit("Velocity"), "1,5");  // refused before anything is written
    EXPECT_EQ(gui_test::click_catching_boxes(calculate),
              gui_test::error_box("Flight Average Velocity: \"1,5\" is not a number. Use a decimal point, e.g. 1.5."));
    EXPECT_TRUE(edit("PointDensity")->text().isEmpty());
    type_into(edit("Velocity"), "100");
    EXPECT_EQ(gui_test::click_catching_boxes(calculate), QStringList());
    EXPECT_EQ(edit("PointDensity")->text(), "0.173205");  // from 500 m, 100 m/s, 60 degrees, 10 kHz

    type_into(edit("Velocity"), "");
    type_into(edit("PRF"), "");
    EXPECT_EQ(gui_test::click_catching_boxes(calculate), gui_test::error_box("More than one box is left empty! "));
    EXPECT_TRUE(edit("Velocity")->text().isEmpty() && edit("PRF")->text().isEmpty());  // nothing changed
}

}  // namespace
