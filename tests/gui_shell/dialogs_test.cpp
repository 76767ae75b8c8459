// The unit dialog of the OBJ import and the trajectory format dialog.
#include "output/gui/formatting_options.h"
#include "shell_fixture.h"
#include "terrain/gui/Dialog_unit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QRadioButton* radio(Dialog_unit& d, int n) {
    return d.findChild<QRadioButton*>(n == 1 ? QStringLiteral("radioButton") : QStringLiteral("radioButton_%1").arg(n));
}

QStringList checkedRadios(Dialog_unit& d) {
    QStringList names;
    for (int n = 1; n <= 5; ++n)
        if (radio(d, n)->isChecked()) names << radio(d, n)->objectName();
    return names;
}

TEST(DialogUnit, FormHoldsTheFiveUnitsAndTheNote) {
    Dialog_unit dialog;
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    const QStringList texts = {"Meters", "Centimeters", "Millimeters", "Feet", "Inches"};
    for (int n = 1; n <= 5; ++n) {
        ASSERT_NE(radio(dialog, n), nullptr);
        EXPECT_EQ(radio(dialog, n)->text(), texts[n - 1]);
    }
    QStringList labels;
    for (QLabel* l : dialog.findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("Unit of Measurement Specification"));
    EXPECT_TRUE(labels.contains("*Note - This software works in meters only. So, the unit of the 3D model will"));
    EXPECT_TRUE(labels.contains(" be converted to meters and then, the rest of the procedure will be "));
    EXPECT_TRUE(labels.contains("carried out in meters only."));
    EXPECT_TRUE(labels.contains("Please select the unit of the 3D model.*"));
    EXPECT_EQ(dialog.findChild<QPushButton*>("pushButton")->text(), "OK");
    EXPECT_EQ(dialog.unitChoice(), 0);
}

TEST(DialogUnit, OkWithoutAnyUnitIsRefusedAndTheDialogStays) {
    Dialog_unit dialog;
    QSignalSpy ran(&dialog, &Dialog_unit::successfully_ran);
    dialog.show();
    BoxCatcher boxes;
    boxes.answer();
    dialog.findChild<QPushButton*>("pushButton")->click();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].title, "Error");
    EXPECT_EQ(boxes.seen[0].text, "Please select a unit for the 3D model!");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ran.count(), 0);
}

TEST(DialogUnit, OkClearsTheSelectionButKeepsTheUnit) {
    Dialog_unit dialog;
    QSignalSpy ran(&dialog, &Dialog_unit::successfully_ran);
    dialog.show();
    radio(dialog, 2)->click();
    radio(dialog, 4)->click();
    EXPECT_EQ(dialog.unitChoice(), 4);
    EXPECT_EQ(checkedRadios(dialog), QStringList{"radioButton_4"});

    dialog.findChild<QPushButton*>("pushButton")->click();
    EXPECT_EQ(ran.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(checkedRadios(dialog).isEmpty());
    EXPECT_TRUE(radio(dialog, 4)->autoExclusive());

    // Next import: OK alone reuses Feet.
    dialog.show();
    dialog.findChild<QPushButton*>("pushButton")->click();
    EXPECT_EQ(ran.count(), 2);
    EXPECT_EQ(dialog.unitChoice(), 4);

    // The buttons are still exclusive after the clearing.
    dialog.show();
    radio(dialog, 4)->click();
    radio(dialog, 5)->click();
    EXPECT_EQ(checkedRadios(dialog), QStringList{"radioButton_5"});
    EXPECT_EQ(dialog.unitChoice(), 5);
}

class FormatDialog : public ::testing::Test {
protected:
    QCheckBox* box(int n) {
        return dialog.findChild<QCheckBox*>(n == 1 ? QStringLiteral("checkBox") : QStringLiteral("checkBox_%1").arg(n));
    }
    QPushButton* continueButton() { return dialog.findChild<QPushButton*>("pushButton"); }
    formatting_options dialog;
};

TEST_F(FormatDialog, FormMatchesItsLayout) {
    EXPECT_EQ(dialog.size(), QSize(372, 145));
    EXPECT_EQ(box(1)->geometry(), QRect(30, 20, 70, 17));
    EXPECT_EQ(box(1)->text(), "Format 1");
    EXPECT_EQ(box(2)->text(), "Format 2");
    EXPECT_EQ(box(3)->text(), "Format 3");
    EXPECT_EQ(dialog.findChild<QLabel*>("label")->text(), "3 Position, 3 Direction Cosines, 3 Euler Angle");
    EXPECT_EQ(dialog.findChild<QLabel*>("label_4")->text(), "3 Position, 3 Euler Angle");
    EXPECT_EQ(dialog.findChild<QLabel*>("label_2")->text(), "3 Position, 3 Direction Cosines");
    EXPECT_EQ(dialog.findChild<QLabel*>("label_3")->text(), "*single space is seperating every value");
    EXPECT_TRUE(dialog.findChild<QLabel*>("label_3")->font().bold());
    EXPECT_EQ(continueButton()->text(), "Continue");
    EXPECT_EQ(continueButton()->geometry(), QRect(280, 110, 75, 23));
    EXPECT_EQ(dialog.formatCode(), 0);
}

TEST_F(FormatDialog, BoxesExcludeEachOtherAndSetTheReversedCode) {
    box(1)->click();
    EXPECT_EQ(dialog.formatCode(), 3);
    box(3)->click();
    EXPECT_EQ(dialog.formatCode(), 1);
    EXPECT_FALSE(box(1)->isChecked());
    box(2)->click();
    EXPECT_EQ(dialog.formatCode(), 2);
    EXPECT_FALSE(box(3)->isChecked());
    EXPECT_TRUE(box(2)->isChecked());

    // Unchecking the only box leaves none and keeps the code; Continue refuses.
    box(2)->click();
    EXPECT_FALSE(box(1)->isChecked() || box(2)->isChecked() || box(3)->isChecked());
    EXPECT_EQ(dialog.formatCode(), 2);

    QSignalSpy ran(&dialog, &formatting_options::successfully_ran);
    dialog.show();
    BoxCatcher boxes;
    boxes.answer();
    continueButton()->click();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].title, "Error");
    EXPECT_EQ(boxes.seen[0].text, "No option selected!");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ran.count(), 0);
}

TEST_F(FormatDialog, ContinueClosesBeforeItSignals) {
    dialog.show();
    box(1)->click();
    bool visibleWhenSignalled = true;
    int emitted = 0;
    QObject::connect(&dialog, &formatting_options::successfully_ran, &dialog, [&] {
        visibleWhenSignalled = dialog.isVisible();
        ++emitted;
        return 0;
    });
    continueButton()->click();
    EXPECT_EQ(emitted, 1);
    EXPECT_FALSE(visibleWhenSignalled);
    EXPECT_EQ(dialog.formatCode(), 3);
    // The choice stays for the next save.
    dialog.show();
    EXPECT_TRUE(box(1)->isChecked());
}

}  // namespace
