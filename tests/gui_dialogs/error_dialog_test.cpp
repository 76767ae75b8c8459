// The "Error Simulation" dialog: the check-box rules, Done's checks and the
// settings read back from it.
#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>

#include "errors/gui/Error_Introduction.h"
#include "support/gui_test_support.h"

using gui_test::type_into;

namespace {

const char* const kBlank = "One or more entires are left blank!";
const char* const kNegative = "Standard Deviation should be non-negative!";

QString comma(const QString& field, const QString& text) {
    return field + ": \"" + text + "\" is not a number. Use a decimal point, e.g. 1.5.";
}

// The check box of a group: 'S'ystematic, 'R'andom or 'O'verall.
QCheckBox* box(Error_Introduction& dialog, char group) {
    const char* name = group == 'S' ? "Sys_checkbox" : group == 'R' ? "Ran_checkbox" : "Overall_checkbox";
    return dialog.findChild<QCheckBox*>(name);
}
QLineEdit* edit(Error_Introduction& dialog, const QString& name) { return dialog.findChild<QLineEdit*>(name); }

// The groups checked, as "SRO" ('.' = unchecked); a '!' follows a group
// whose fields are not enabled exactly when it is checked.
QString state(Error_Introduction& dialog) {
    QString state;
    for (const auto& [group, edits] : {std::pair{'S', dialog.systematicEdits()}, {'R', dialog.randomEdits()},
                                       {'O', dialog.overallEdits()}}) {
        const bool on = box(dialog, group)->isChecked();
        state += on ? group : '.';
        for (QLineEdit* e : edits)
            if (e->isEnabled() != on) state += '!';
    }
    return state;
}

TEST(ErrorDialog, CheckBoxesKeepOverallApartFromTheOtherTwoAndEnableTheirFields) {
    // The boxes clicked in turn (S, R, O as above), then the state.
    const std::vector<std::pair<QString, QString>> cases = {
        {"", "..."}, {"O", "..O"}, {"SR", "SR."}, {"SO", "..."}, {"OR", "..."},
        {"SOO", "..O"},  // a second click checks Overall
    };
    for (const auto& [clicks, expected] : cases) {
        Error_Introduction dialog;
        dialog.show();
        for (QChar group : clicks) box(dialog, group.toLatin1())->click();
        EXPECT_EQ(state(dialog), expected) << "clicks " << clicks.toStdString();
    }
}

// Text that only looks like a number ("1,5") is refused after the blanks and
// before the values, in the checked groups only.
TEST(ErrorDialog, DoneRefusesBlanksDecimalCommasAndNegativeDeviationsButNotNegativeOffsets) {
    Error_Introduction dialog;
    QSignalSpy ran(&dialog, &Error_Introduction::successfully_ran);
    auto* done = dialog.findChild<QPushButton*>("pushButton_2");
    // A field and the text typed, or a group's box to click; then the message
    // Done shows ("" = accepted).
    const std::vector<std::tuple<const char*, const char*, QString>> steps = {
        {"O", "", ""},                 {"Y_Overall", "", kBlank},        {"Z_Overall", "0,1", kBlank},
        {"Y_Overall", "-0.1", comma("Overall Error Z", "0,1")},          {"Z_Overall", "0.1", kNegative},
        {"Y_Overall", "0.1", ""},      {"O", "", ""},                    {"S", "", ""},
        {"Range_sys", "", kBlank},     {"Range_sys", "-0.2", ""},        {"R", "", ""},
        {"Pitch_ran", "-0.5", kNegative}, {"Yaw_ran", "", kBlank},       {"Yaw_ran", "0", kNegative},
        {"Roll_sys", "0,5", comma("Systematic Error Roll", "0,5")},
        {"O", "", ""}, {"O", "", ""},  // all off, then Overall alone: the "0,5" is not read
    };
    for (const auto& [field, text, message] : steps) {
        SCOPED_TRACE(std::string(field) + " = '" + text + "'");
        dialog.show();
        if (field[1] == '\0')
            box(dialog, field[0])->click();
        else
            type_into(edit(dialog, field), text);
        EXPECT_EQ(gui_test::click_catching_boxes(done), gui_test::error_box(message));
        EXPECT_EQ(dialog.isVisible(), !message.isEmpty());  // a refusal keeps the dialog open
        EXPECT_EQ(ran.size(), message.isEmpty() ? 1 : 0);
        ran.clear();
    }
}

TEST(ErrorDialog, ReadSettingsTakesTheCheckedGroupsInFieldOrder) {
    Error_Introduction dialog;
    dialog.show();
    box(dialog, 'S')->click();
    box(dialog, 'R')->click();
    const char* fields[] = {"X", "Y", "Z", "Roll", "Pitch", "Yaw", "Range"};
    for (int i = 0; i < 7; ++i) {
        type_into(edit(dialog, fields[i] + QString("_sys")), QString::number(i + 1));
        type_into(edit(dialog, fields[i] + QString("_ran")), QString::number((i + 1) / 10.0));
    }
    ErrorSettings s = read_error_settings(dialog);
    EXPECT_TRUE(s.systematicOn && s.randomOn && !s.overallOn);
    EXPECT_EQ(s.systematic, (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(s.random, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7}));

    // Switching to overall drops the other two groups, values and all.
    box(dialog, 'O')->click();
    box(dialog, 'O')->click();
    type_into(edit(dialog, "X_Overall"), "0.25");
    s = read_error_settings(dialog);
    EXPECT_TRUE(!s.systematicOn && !s.randomOn && s.overallOn);
    EXPECT_TRUE(s.systematic.empty() && s.random.empty());
    EXPECT_EQ(s.overall, (std::vector<double>{0.25, 0, 0}));
}

}  // namespace
