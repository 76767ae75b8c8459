// The "Error Simulation" dialog: the check-box rules, Done's checks and the
// settings read back from it.
#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QValidator>
#include <gtest/gtest.h>

#include "dialog_test_support.h"
#include "errors/gui/Error_Introduction.h"

using dialog_test::click_collecting_boxes;
using dialog_test::type_into;

namespace {

const char* const kBlank = "One or more entires are left blank!";
const char* const kNegative = "Standard Deviation should be non-negative!";

class ErrorDialog : public ::testing::Test {
protected:
    void SetUp() override { dialog.show(); }

    QCheckBox* box(const char* name) {
        QCheckBox* b = dialog.findChild<QCheckBox*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QCheckBox* sys() { return box("Sys_checkbox"); }
    QCheckBox* ran() { return box("Ran_checkbox"); }
    QCheckBox* overall() { return box("Overall_checkbox"); }
    QLineEdit* edit(const char* name) {
        QLineEdit* e = dialog.findChild<QLineEdit*>(name);
        EXPECT_NE(e, nullptr) << name;
        return e;
    }

    // A user's click on the box's indicator.
    void clickBox(QCheckBox* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2)); }

    // Checked states (sys, ran, overall) and the enabled state of every
    // line edit of each group.
    void expectState(bool sysOn, bool ranOn, bool overallOn) {
        EXPECT_EQ(sys()->isChecked(), sysOn);
        EXPECT_EQ(ran()->isChecked(), ranOn);
        EXPECT_EQ(overall()->isChecked(), overallOn);
        for (QLineEdit* e : dialog.systematicEdits()) EXPECT_EQ(e->isEnabled(), sysOn) << e->objectName().toStdString();
        for (QLineEdit* e : dialog.randomEdits()) EXPECT_EQ(e->isEnabled(), ranOn) << e->objectName().toStdString();
        for (QLineEdit* e : dialog.overallEdits()) EXPECT_EQ(e->isEnabled(), overallOn) << e->objectName().toStdString();
    }

    std::vector<dialog_test::CaughtBox> clickDone() {
        return click_collecting_boxes(dialog.findChild<QPushButton*>("pushButton_2"));
    }
    void expectRefused(const char* message) {
        QSignalSpy ran_(&dialog, &Error_Introduction::successfully_ran);
        const auto boxes = clickDone();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, "Error");
        EXPECT_EQ(boxes[0].text, message);
        EXPECT_EQ(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_EQ(ran_.count(), 0);
        EXPECT_TRUE(dialog.isVisible());
    }
    void expectAccepted() {
        QSignalSpy ran_(&dialog, &Error_Introduction::successfully_ran);
        EXPECT_TRUE(clickDone().empty());
        EXPECT_EQ(ran_.count(), 1);
        EXPECT_FALSE(dialog.isVisible());
    }

    Error_Introduction dialog;
};

TEST_F(ErrorDialog, StartsUncheckedWithSeventeenDisabledZeroFieldsSharingOneValidator) {
    expectState(false, false, false);
    const char* names[] = {"X_sys", "Y_sys", "Z_sys", "Roll_sys", "Pitch_sys", "Yaw_sys", "Range_sys",
                           "X_ran", "Y_ran", "Z_ran", "Roll_ran", "Pitch_ran", "Yaw_ran", "Range_ran",
                           "X_Overall", "Y_Overall", "Z_Overall"};
    const QValidator* shared = edit("X_sys")->validator();
    ASSERT_NE(shared, nullptr);
    for (const char* name : names) {
        EXPECT_EQ(edit(name)->text(), "0") << name;
        EXPECT_EQ(edit(name)->validator(), shared) << name;
    }
    EXPECT_EQ(dialog.findChild<QPushButton*>("pushButton_2")->text(), "Done");
}

TEST_F(ErrorDialog, OverallAloneOrSystematicWithRandomStayChecked) {
    clickBox(overall());
    expectState(false, false, true);
    clickBox(overall());
    expectState(false, false, false);

    clickBox(sys());
    clickBox(ran());
    expectState(true, true, false);
    clickBox(sys());
    expectState(false, true, false);
}

TEST_F(ErrorDialog, CheckingOverallWhileSystematicIsOnClearsEverything) {
    clickBox(sys());
    clickBox(overall());
    // Unchecking Systematic ran its slot, which unchecked Overall again.
    expectState(false, false, false);
    clickBox(overall());
    expectState(false, false, true);
}

TEST_F(ErrorDialog, CheckingOverallWhileRandomIsOnClearsEverything) {
    clickBox(ran());
    clickBox(overall());
    expectState(false, false, false);
}

TEST_F(ErrorDialog, CheckingSystematicOrRandomWhileOverallIsOnClearsEverything) {
    clickBox(overall());
    clickBox(sys());
    expectState(false, false, false);

    clickBox(overall());
    clickBox(ran());
    expectState(false, false, false);
}

TEST_F(ErrorDialog, DoneChecksTheOverallGroupAloneWhenItIsOn) {
    clickBox(overall());
    type_into(edit("Y_Overall"), "");
    expectRefused(kBlank);
    type_into(edit("Y_Overall"), "-0.1");
    expectRefused(kNegative);
    type_into(edit("Y_Overall"), "0.1");
    expectAccepted();
}

TEST_F(ErrorDialog, DoneAcceptsNegativeOffsetsButNotNegativeDeviations) {
    clickBox(sys());
    type_into(edit("Range_sys"), "");
    expectRefused(kBlank);
    type_into(edit("Range_sys"), "-0.2");
    type_into(edit("Roll_sys"), "-1");
    expectAccepted();

    dialog.show();
    clickBox(ran());
    type_into(edit("Pitch_ran"), "-0.5");
    expectRefused(kNegative);
    // A blank is reported before a negative deviation, in either group.
    type_into(edit("Yaw_ran"), "");
    expectRefused(kBlank);
    type_into(edit("Yaw_ran"), "0");
    type_into(edit("X_sys"), "");
    expectRefused(kBlank);
}

TEST_F(ErrorDialog, DoneWithNoBoxCheckedStillEndsTheTask) {
    expectAccepted();
}

TEST_F(ErrorDialog, ReadSettingsTakesTheCheckedGroupsInFieldOrder) {
    ErrorSettings none = read_error_settings(dialog);
    EXPECT_FALSE(none.systematicOn || none.randomOn || none.overallOn);
    EXPECT_TRUE(none.systematic.empty() && none.random.empty() && none.overall.empty());

    clickBox(sys());
    clickBox(ran());
    const char* sysNames[] = {"X_sys", "Y_sys", "Z_sys", "Roll_sys", "Pitch_sys", "Yaw_sys", "Range_sys"};
    const char* ranNames[] = {"X_ran", "Y_ran", "Z_ran", "Roll_ran", "Pitch_ran", "Yaw_ran", "Range_ran"};
    for (int i = 0; i < 7; ++i) {
        type_into(edit(sysNames[i]), QString::number(i + 1));
        type_into(edit(ranNames[i]), QString::number((i + 1) / 10.0));
    }
    type_into(edit("Yaw_sys"), "-");  // not yet a number: reads as 0

    ErrorSettings s = read_error_settings(dialog);
    EXPECT_TRUE(s.systematicOn);
    EXPECT_TRUE(s.randomOn);
    EXPECT_FALSE(s.overallOn);
    EXPECT_EQ(s.systematic, (std::vector<double>{1, 2, 3, 4, 5, 0, 7}));
    EXPECT_EQ(s.random, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7}));
    EXPECT_TRUE(s.overall.empty());

    // Switching to overall drops the other two groups, values and all.
    clickBox(overall());
    clickBox(overall());
    type_into(edit("X_Overall"), "0.25");
    s = read_error_settings(dialog);
    EXPECT_FALSE(s.systematicOn || s.randomOn);
    EXPECT_TRUE(s.overallOn);
    EXPECT_TRUE(s.systematic.empty() && s.random.empty());
    EXPECT_EQ(s.overall, (std::vector<double>{0.25, 0, 0}));
}

}  // namespace
