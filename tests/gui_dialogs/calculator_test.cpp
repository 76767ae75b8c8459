// The flight planning calculator dialog: its messages and how the computed
// value lands in the one empty box.
#include <QPushButton>
#include <gtest/gtest.h>

#include "calculator/gui/Calculator.h"
#include "dialog_test_support.h"

using dialog_test::click_collecting_boxes;
using dialog_test::type_into;

namespace {

class CalculatorDialog : public ::testing::Test {
protected:
    void SetUp() override { dialog.show(); }

    QLineEdit* edit(const char* name) {
        QLineEdit* e = dialog.findChild<QLineEdit*>(name);
        EXPECT_NE(e, nullptr) << name;
        return e;
    }
    std::vector<dialog_test::CaughtBox> calculate() {
        return click_collecting_boxes(dialog.findChild<QPushButton*>("Calculate"));
    }
    void expectError(const char* message) {
        const auto boxes = calculate();
        ASSERT_EQ(boxes.size(), 1u) << message;
        EXPECT_EQ(boxes[0].title, "Error");
        EXPECT_EQ(boxes[0].text, message);
        EXPECT_EQ(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    Calculator dialog;
};

const char* const kBoxes[] = {"MeanElevation", "PointDensity", "Velocity", "FOVAcross", "PRF"};

TEST_F(CalculatorDialog, StartsFilledSoCalculateFindsNoBlank) {
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    const char* initial[] = {"500", "1", "100", "60", "10"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(edit(kBoxes[i])->text(), initial[i]) << kBoxes[i];
    const QString tip = "Angle should be in degree and is measured from X-Axis in CCW direction";
    for (const char* name : {"PointDensity", "Velocity"}) {
        EXPECT_EQ(edit(name)->toolTip(), tip);
        EXPECT_EQ(edit(name)->statusTip(), tip);
        EXPECT_EQ(edit(name)->whatsThis(), tip);
    }
    expectError("No blanks are left! ");
}

TEST_F(CalculatorDialog, TwoEmptyBoxesAreRefusedAndLeftEmpty) {
    type_into(edit("Velocity"), "");
    type_into(edit("PRF"), "");
    expectError("More than one box is left empty! ");
    EXPECT_TRUE(edit("Velocity")->text().isEmpty());
    EXPECT_TRUE(edit("PRF")->text().isEmpty());
}

TEST_F(CalculatorDialog, WorkedExampleDensityThenFieldOfView) {
    type_into(edit("PointDensity"), "");
    EXPECT_TRUE(calculate().empty());
    EXPECT_EQ(edit("PointDensity")->text(), "0.173205");

    // The rounded density gives back a little more than 60 degrees, and
    // 180 / 3.14159 adds its own share.
    type_into(edit("FOVAcross"), "");
    EXPECT_TRUE(calculate().empty());
    EXPECT_EQ(edit("FOVAcross")->text(), "60.0001");
}

TEST_F(CalculatorDialog, EachEmptyBoxReceivesItsOwnParameter) {
    // Starting from a consistent set, every parameter comes back into the
    // box that was emptied.
    const char* consistent[] = {"500", "0.173205", "100", "60", "10"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(kBoxes[i]);
        for (int j = 0; j < 5; ++j) type_into(edit(kBoxes[j]), consistent[j]);
        type_into(edit(kBoxes[i]), "");
        EXPECT_TRUE(calculate().empty());
        EXPECT_NEAR(edit(kBoxes[i])->text().toDouble(), QString(consistent[i]).toDouble(),
                    1e-4 * QString(consistent[i]).toDouble());
        for (int j = 0; j < 5; ++j) {
            if (j == i) continue;
            EXPECT_EQ(edit(kBoxes[j])->text(), consistent[j]);
        }
    }
}

TEST_F(CalculatorDialog, RangeMessagesComeInOrderAndChangeNothing) {
    type_into(edit("PointDensity"), "");
    type_into(edit("FOVAcross"), "180.5");
    expectError("FOV should be between 0 - 180.");
    type_into(edit("FOVAcross"), "180");
    type_into(edit("MeanElevation"), "-1");
    type_into(edit("Velocity"), "-1");
    expectError("Velocity should be positive!!");
    type_into(edit("Velocity"), "100");
    expectError("Flight is travelling at altitude lower than the highest point of terrain model!");
    type_into(edit("MeanElevation"), "500");
    type_into(edit("PRF"), "-10");
    expectError("PRF should be greater than 0.");
    EXPECT_TRUE(edit("PointDensity")->text().isEmpty());

    type_into(edit("PRF"), "10");
    type_into(edit("PointDensity"), "-1");
    type_into(edit("Velocity"), "");
    expectError("Point Density should be greater than 0.");
    EXPECT_TRUE(edit("Velocity")->text().isEmpty());
}

}  // namespace
