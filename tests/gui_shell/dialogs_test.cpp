// The unit dialog of the OBJ import and the trajectory format dialog.
#include "output/gui/formatting_options.h"
#include "support/gui_test_support.h"
#include "terrain/gui/Dialog_unit.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

namespace {

QString numbered(const char* base, int n) { return n == 1 ? QString(base) : QStringLiteral("%1_%2").arg(base).arg(n); }

TEST(DialogUnit, OkNeedsAUnitThenClearsTheButtonsButRemembersTheUnit) {
    Dialog_unit dialog;
    auto radio = [&](int n) { return dialog.findChild<QRadioButton*>(numbered("radioButton", n)); };
    auto* ok = dialog.findChild<QPushButton*>("pushButton");
    QSignalSpy ran(&dialog, &Dialog_unit::successfully_ran);
    dialog.show();
    EXPECT_EQ(gui_test::click_catching_boxes(ok), gui_test::error_box("Please select a unit for the 3D model!"));
    EXPECT_TRUE(dialog.isVisible() && ran.isEmpty());

    radio(2)->click();
    radio(4)->click();  // Feet
    ok->click();
    EXPECT_EQ(ran.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
    for (int n = 1; n <= 5; ++n) EXPECT_FALSE(radio(n)->isChecked()) << n;

    // Next import: OK alone reuses Feet, and the buttons are still exclusive.
    dialog.show();
    ok->click();
    EXPECT_EQ(ran.count(), 2);
    EXPECT_EQ(dialog.unitChoice(), 4);
    radio(4)->click();
    radio(5)->click();
    EXPECT_FALSE(radio(4)->isChecked());
}

TEST(FormatDialog, BoxesExcludeEachOtherAndContinueClosesThenSignals) {
    formatting_options dialog;
    auto box = [&](int n) { return dialog.findChild<QCheckBox*>(numbered("checkBox", n)); };
    auto* next = dialog.findChild<QPushButton*>("pushButton");
    QSignalSpy ran(&dialog, &formatting_options::successfully_ran);
    dialog.show();
    // Box 1, 2, 3 give the codes 3, 2, 1; checking one unchecks the others.
    for (auto [n, code] : {std::pair{1, 3}, {3, 1}, {2, 2}}) {
        box(n)->click();
        EXPECT_EQ(dialog.formatCode(), code);
        EXPECT_EQ(box(1)->isChecked() + box(2)->isChecked() + box(3)->isChecked(), 1) << n;
    }
    box(2)->click();  // unchecking the only box leaves none
    EXPECT_EQ(gui_test::click_catching_boxes(next), gui_test::error_box("No option selected!"));
    EXPECT_TRUE(dialog.isVisible() && ran.isEmpty());

    box(1)->click();
    bool visibleWhenSignalled = true;
    QObject::connect(&dialog, &formatting_options::successfully_ran,
                     [&] { visibleWhenSignalled = dialog.isVisible(); });
    next->click();
    EXPECT_EQ(ran.count(), 1);
    EXPECT_FALSE(visibleWhenSignalled);
}

}  // namespace
