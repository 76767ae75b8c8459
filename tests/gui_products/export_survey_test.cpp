// "Export Survey Point Cloud...": its place in the File menu, its refusal,
// its settings dialog and the files it writes, driven headlessly.
#include "app/gui/MainWindow.h"
#include "products/gui/export_survey_dialog.h"
#include "support/gui_test_support.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <functional>

namespace {

class ExportSurveyTest : public ::testing::Test {
protected:
    void SetUp() override { install_ui_seam(&seam); }
    void TearDown() override { install_ui_seam(nullptr); }

    QAction* action() { return window.findChild<QAction*>(QStringLiteral("actionExport_Survey_Point_Cloud")); }
    QString path(const char* name) { return QString::fromStdString(dir.file(name)); }

    void survey() { testing_support::sample_survey(data, 4000, {0, 200, 50, 700}, {1000}); }

    // Triggers the action; `fill` answers the settings dialog when it opens
    // (it may leave it open for another try) and message boxes are recorded.
    QStringList trigger(const std::function<void(ExportSurveyDialog&)>& fill) {
        return gui_test::catch_boxes([&] { action()->trigger(); }, {}, [&](QWidget* modal) {
            if (auto* dialog = qobject_cast<ExportSurveyDialog*>(modal)) fill(*dialog);
        });
    }

    testing_support::TempDir dir;
    gui_test::FakeSeam seam;
    SimulationData data;
    MainWindow window{data};
};

void press(ExportSurveyDialog& dialog, QDialogButtonBox::StandardButton which) {
    dialog.findChild<QDialogButtonBox*>()->button(which)->click();
}

}  // namespace

TEST_F(ExportSurveyTest, FollowsSaveGeneratedLidarDataAndRefusesWithoutPoints) {
    const QList<QAction*> file = window.menuBar()->actions().first()->menu()->actions();
    const int save = file.indexOf(window.findChild<QAction*>(QStringLiteral("actionSave_Generated_LiDAR_Data")));
    ASSERT_GE(save, 0);
    EXPECT_EQ(file.value(save + 1), action());
    EXPECT_EQ(action()->text(), "Export Survey Point Cloud...");

    const QString log = data.logText;
    EXPECT_EQ(trigger([](ExportSurveyDialog& d) { press(d, QDialogButtonBox::Cancel); }),
              gui_test::error_box("No LiDAR data in use, please generate LiDAR data first!"));
    EXPECT_EQ(data.logText, log);
    EXPECT_TRUE(seam.saves.isEmpty());
}

TEST_F(ExportSurveyTest, SettingsAreCheckedThenTheFileIsWrittenByItsEnding) {
    survey();
    seam.names << path("cloud");
    seam.pickedFilter = QStringLiteral(" Comma-separated text(*.csv)");
    QStringList problems;
    const QStringList boxes = trigger([&](ExportSurveyDialog& d) {
        if (problems.isEmpty()) {
            EXPECT_EQ(d.startEdit()->text(), "2024-01-01T00:00:00Z");
            EXPECT_TRUE(d.intensityBox()->isChecked());
            d.crsEdit()->setText(QStringLiteral("EPSG:99999999"));
        } else if (problems.size() == 1) {
            d.crsEdit()->setText(QStringLiteral("EPSG:28992"));
            d.startEdit()->setText(QStringLiteral("2025-13-01"));
        } else {
            d.startEdit()->setText(QStringLiteral("2025-06-01T12:00:00Z"));
            d.intensityBox()->setChecked(false);
        }
        press(d, QDialogButtonBox::Ok);
        auto* problem = d.findChild<QLabel*>(QStringLiteral("problem"));
        if (d.isVisible() && problem->isVisibleTo(&d)) problems << problem->text();
    });
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    ASSERT_EQ(problems.size(), 2);
    EXPECT_TRUE(problems[0].contains("EPSG:99999999")) << problems[0].toStdString();
    EXPECT_TRUE(problems[1].contains("2025-13-01")) << problems[1].toStdString();

    // The CSV's header is pinned by the products' tests; here its columns.
    const std::string text = testing_support::read_file(dir.file("cloud.csv"));
    const std::string first = text.substr(text.find('\n') + 1, text.find('\n', text.find('\n') + 1));
    EXPECT_NE(first.find(",4328144"), std::string::npos) << first;  // 2025-06-01T12:00Z is 432814418 in GPS time
    EXPECT_NE(first.find(",0,2,1,"), std::string::npos) << first;       // intensity off, ground, line 1
    EXPECT_TRUE(data.logText.endsWith("Survey point cloud exported, Path : " + path("cloud.csv") + "\n\n"));
}

TEST_F(ExportSurveyTest, LasEndingWritesLas14AndABadEndingIsAnError) {
    survey();
    seam.names << path("cloud.las") << path("cloud.xyz");
    auto ok = [](ExportSurveyDialog& d) { press(d, QDialogButtonBox::Ok); };
    EXPECT_TRUE(trigger(ok).isEmpty());
    const std::string las = testing_support::read_file(dir.file("cloud.las"));
    ASSERT_GT(las.size(), 375u);
    EXPECT_EQ(las.substr(0, 4), "LASF");
    EXPECT_EQ(las[25], 4);    // version 1.4
    EXPECT_EQ(las[104], 6);   // point format 6
    EXPECT_EQ(trigger(ok), gui_test::error_box("The survey point cloud file name '" + path("cloud.xyz") +
                                               "' must end in .las or .csv"));
}

// The export's file dialog starts from the export's own last name, never
// pre-filled with the file another save wrote.
TEST_F(ExportSurveyTest, ItsFileDialogStartsFromItsOwnLastName) {
    survey();
    auto ok = [](ExportSurveyDialog& d) { press(d, QDialogButtonBox::Ok); };
    auto startedAt = [&] { return seam.saves.last().section(" | ", 1, 1); };
    data.savePath = path("points.las");  // the last save of "Save Generated LiDAR Data"
    seam.names << path("export1.csv");
    EXPECT_EQ(trigger(ok), QStringList());
    EXPECT_EQ(startedAt(), QString::fromStdString(dir.path()));
    seam.names << path("export2.csv");
    EXPECT_EQ(trigger(ok), QStringList());
    EXPECT_EQ(startedAt(), path("export1.csv"));
    EXPECT_EQ(data.savePath, path("points.las"));
}
