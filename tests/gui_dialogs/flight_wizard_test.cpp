// The three pages of the "Scanner and Flight details" wizard, driven as a
// user would: typing into the fields and clicking the buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QValidator>
#include <gtest/gtest.h>

#include "dialog_test_support.h"
#include "flight/gui/flight_trajectory.h"
#include "flight/gui/real_trajectory.h"
#include "flight/gui/sensor_movement_details.h"

using dialog_test::CaughtBox;
using dialog_test::click_collecting_boxes;
using dialog_test::type_into;

namespace {

const char* const kFlightBlank = "One or more entires are left blank!!";
const char* const kScannerBlank = "One or more entires are left blank!";
const char* const kOrientation = "Flight Orientation should be between 0 - 180 degrees!";
const char* const kVelocity = "Velocity should be positive!";
const char* const kOverlap = "Overlap should be between 0 - 100%.";
const char* const kTooLow = "Flying height is lower than the highest point of terrain model!";
const char* const kPrf = "PRF should be greater than 0.";
const char* const kScanFrequency = "Scanning Frequency should be greater than 0.";
const char* const kFov = "FOV should be between 0 - 180 degrees.";

const char* const kTermNames[6][4] = {
    {"Ax", "Bx", "Cx", "Dx"},         {"Ay", "By", "Cy", "Dy"},         {"Az", "Bz", "Cz", "Dz"},
    {"Ax_2", "Bx_2", "Cx_2", "Dx_2"}, {"Ay_2", "By_2", "Cy_2", "Dy_2"}, {"Az_2", "Bz_2", "Cz_2", "Dz_2"},
};

// Exactly one "Error" box with one OK button and this text.
void expect_one_error(const std::vector<CaughtBox>& boxes, const QString& text) {
    ASSERT_EQ(boxes.size(), 1u) << "expected the box \"" << text.toStdString() << "\"";
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

class FlightWizard : public ::testing::Test {
protected:
    void SetUp() override {
        // A model 345 m high and 2000 m wide, as the main window would hand it.
        flight.prepare(345.0, 2000.0 / 5);
        flight.show();
    }

    template <class T>
    T* in(QWidget* page, const char* name) {
        T* widget = page->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* edit(QWidget* page, const char* name) { return in<QLineEdit>(page, name); }
    sensor_movement_details* sensor() { return flight.sensorPage(); }
    real_trajectory* real() { return sensor()->realPage(); }

    std::vector<CaughtBox> clickFlightNext() { return click_collecting_boxes(in<QPushButton>(&flight, "Cancel")); }
    std::vector<CaughtBox> clickScannerNext() { return click_collecting_boxes(in<QPushButton>(sensor(), "Next")); }

    // Picks a scanner movement with the keyboard, which emits `activated`.
    void chooseMovement(int index) {
        QComboBox* combo = in<QComboBox>(sensor(), "Movementype_3");
        while (combo->currentIndex() < index) QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > index) QTest::keyClick(combo, Qt::Key_Up);
    }

    void checkRealistic() {
        QCheckBox* box = in<QCheckBox>(real(), "RealTrajectory");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }

    flight_trajectory flight;
};

TEST_F(FlightWizard, PagesStartWithTheirDefaultsAndShareOneValidatorPerPage) {
    EXPECT_EQ(sensor()->parent(), &flight);
    EXPECT_EQ(real()->parent(), sensor());
    EXPECT_EQ(sensor()->windowTitle(), "Scanner Movement");
    EXPECT_EQ(real()->windowTitle(), "Realistic Trajectory");
    EXPECT_EQ(in<QPushButton>(&flight, "Cancel")->text(), "Next");
    EXPECT_EQ(in<QLabel>(&flight, "hoverdetails")->toolTip(),
              "<img src=':/Resources/flight_trajectory1.jpg' height='400'>");
    EXPECT_EQ(in<QLabel>(real(), "hoverdetails")->toolTip(), "<img src=':/Resources/real_trajectory.gif' height='400'>");
    EXPECT_EQ(in<QLabel>(sensor(), "ScannerFrequency_3")->toolTip(),
              "e.g. if you choose spherical movement, then one cycle means a 360 degrees rotation");

    EXPECT_EQ(edit(&flight, "PlaneDirection")->text(), "0");
    EXPECT_EQ(edit(&flight, "Overlap")->text(), "30");
    const QValidator* shared = edit(&flight, "PlaneDirection")->validator();
    ASSERT_NE(shared, nullptr);
    for (const char* name : {"PlaneVelocity_2", "Overlap", "MeanElevation"})
        EXPECT_EQ(edit(&flight, name)->validator(), shared) << name;

    EXPECT_EQ(edit(sensor(), "PRF_3")->text(), "10");
    EXPECT_EQ(edit(sensor(), "FOV_3")->text(), "60");
    EXPECT_EQ(edit(sensor(), "Scannerfreq_3")->text(), "20");
    EXPECT_EQ(edit(sensor(), "FOValong_3")->text(), "0");
    EXPECT_FALSE(edit(sensor(), "FOValong_3")->isEnabled());
    QComboBox* combo = in<QComboBox>(sensor(), "Movementype_3");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), "Zig Zag Lines");
    EXPECT_EQ(combo->itemText(3), "Elliptical");

    EXPECT_FALSE(in<QGroupBox>(real(), "groupBox")->isEnabled());
    EXPECT_FALSE(in<QGroupBox>(real(), "groupBox_2")->isEnabled());
    const QValidator* termValidator = edit(real(), "Ax")->validator();
    ASSERT_NE(termValidator, nullptr);
    for (const auto& set : kTermNames)
        for (const char* name : set) {
            EXPECT_EQ(edit(real(), name)->text(), "0") << name;
            EXPECT_EQ(edit(real(), name)->validator(), termValidator) << name;
        }
}

TEST_F(FlightWizard, PrepareSuggestsHeightAndVelocityFromTheModel) {
    EXPECT_EQ(in<QLabel>(&flight, "MaximumSceneHeight")->text(), "Maximum Height of 3D model = 345 m");
    EXPECT_EQ(edit(&flight, "MeanElevation")->text(), "1000");
    EXPECT_EQ(edit(&flight, "PlaneVelocity_2")->text(), "100");
    EXPECT_EQ(flight.maxSceneHeight(), 345.0);

    // A model top of exactly a power of ten still gets the next one up.
    flight.prepare(1000.0, 40.0);
    EXPECT_EQ(in<QLabel>(&flight, "MaximumSceneHeight")->text(), "Maximum Height of 3D model = 1000 m");
    EXPECT_EQ(edit(&flight, "MeanElevation")->text(), "10000");
    EXPECT_EQ(edit(&flight, "PlaneVelocity_2")->text(), "10");

    flight.prepare(123.456789, 400.0);
    EXPECT_EQ(in<QLabel>(&flight, "MaximumSceneHeight")->text(), "Maximum Height of 3D model = 123.457 m");
}

struct FlightCase {
    const char* field;
    const char* text;
    const char* message;
};

TEST_F(FlightWizard, NextRefusesEachBadFlightValueWithItsMessage) {
    const FlightCase cases[] = {
        {"PlaneDirection", "", kFlightBlank},       {"PlaneVelocity_2", "", kFlightBlank},
        {"Overlap", "", kFlightBlank},              {"MeanElevation", "", kFlightBlank},
        {"PlaneDirection", "180.5", kOrientation},  {"PlaneDirection", "-1", kOrientation},
        {"PlaneVelocity_2", "-1", kVelocity},       {"PlaneVelocity_2", "0", kVelocity},
        {"Overlap", "101", kOverlap},               {"Overlap", "-0.5", kOverlap},
        {"MeanElevation", "344.999", kTooLow},
    };
    for (const FlightCase& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = '" + c.text + "'");
        flight.prepare(345.0, 400.0);
        type_into(edit(&flight, "PlaneDirection"), "30");
        type_into(edit(&flight, "Overlap"), "30");
        type_into(edit(&flight, c.field), c.text);
        expect_one_error(clickFlightNext(), c.message);
        EXPECT_TRUE(flight.isVisible());
        EXPECT_FALSE(sensor()->isVisible());
    }
}

TEST_F(FlightWizard, FlightChecksRunInOrder) {
    // A blank field is reported before a bad orientation, the orientation
    // before the velocity, the velocity before the overlap, the overlap
    // before the height.
    type_into(edit(&flight, "PlaneDirection"), "200");
    type_into(edit(&flight, "PlaneVelocity_2"), "-5");
    type_into(edit(&flight, "Overlap"), "150");
    type_into(edit(&flight, "MeanElevation"), "");
    expect_one_error(clickFlightNext(), kFlightBlank);
    type_into(edit(&flight, "MeanElevation"), "10");
    expect_one_error(clickFlightNext(), kOrientation);
    type_into(edit(&flight, "PlaneDirection"), "180");
    expect_one_error(clickFlightNext(), kVelocity);
    type_into(edit(&flight, "PlaneVelocity_2"), "1");
    expect_one_error(clickFlightNext(), kOverlap);
    type_into(edit(&flight, "Overlap"), "100");
    expect_one_error(clickFlightNext(), kTooLow);
}

TEST_F(FlightWizard, AcceptedFlightPageClosesAndShowsTheScannerPage) {
    // Limits are inclusive and a flying height equal to the model top passes.
    type_into(edit(&flight, "PlaneDirection"), "180");
    type_into(edit(&flight, "Overlap"), "0");
    type_into(edit(&flight, "MeanElevation"), "345");
    EXPECT_TRUE(clickFlightNext().empty());
    EXPECT_FALSE(flight.isVisible());
    EXPECT_TRUE(sensor()->isVisible());
    EXPECT_FALSE(real()->isVisible());
}

TEST_F(FlightWizard, MovementTypeEnablesAlongTrackFovOnlyForElliptical) {
    QLineEdit* along = edit(sensor(), "FOValong_3");
    for (int index : {1, 2, 3, 0, 3, 2}) {
        chooseMovement(index);
        EXPECT_EQ(along->isEnabled(), index == 3) << index;
    }
}

struct ScannerCase {
    const char* field;
    const char* text;
    const char* message;
};

TEST_F(FlightWizard, ScannerNextRefusesEachBadValueWithItsMessage) {
    const ScannerCase cases[] = {
        {"PRF_3", "", kScannerBlank},         {"Scannerfreq_3", "", kScannerBlank}, {"FOV_3", "", kScannerBlank},
        {"PRF_3", "-1", kPrf},                {"Scannerfreq_3", "-0.5", kScanFrequency},
        {"FOV_3", "180.5", kFov},             {"FOV_3", "-1", kFov},
    };
    sensor()->show();
    for (const ScannerCase& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = '" + c.text + "'");
        for (const char* name : {"PRF_3", "Scannerfreq_3", "FOV_3"}) type_into(edit(sensor(), name), "10");
        type_into(edit(sensor(), c.field), c.text);
        expect_one_error(clickScannerNext(), c.message);
        EXPECT_TRUE(sensor()->isVisible());
        EXPECT_FALSE(real()->isVisible());
    }
    // Checks run in order: the PRF before the scanning frequency before the FOV.
    type_into(edit(sensor(), "PRF_3"), "-1");
    type_into(edit(sensor(), "Scannerfreq_3"), "-1");
    type_into(edit(sensor(), "FOV_3"), "-1");
    expect_one_error(clickScannerNext(), kPrf);
    type_into(edit(sensor(), "PRF_3"), "0");
    expect_one_error(clickScannerNext(), kScanFrequency);
}

TEST_F(FlightWizard, AlongTrackFovIsCheckedForBlanksAlwaysAndForRangeOnlyWhenElliptical) {
    sensor()->show();
    QLineEdit* along = edit(sensor(), "FOValong_3");

    chooseMovement(3);
    type_into(along, "180.5");
    expect_one_error(clickScannerNext(), kFov);
    type_into(along, "");
    expect_one_error(clickScannerNext(), kScannerBlank);

    // Left blank, then disabled by another movement type: still refused.
    chooseMovement(2);
    ASSERT_FALSE(along->isEnabled());
    expect_one_error(clickScannerNext(), kScannerBlank);

    // Out of range but unused by the spherical scanner: accepted.
    along->setText("200");
    EXPECT_TRUE(clickScannerNext().empty());
    EXPECT_FALSE(sensor()->isVisible());
    EXPECT_TRUE(real()->isVisible());
}

TEST_F(FlightWizard, EllipticalWithinLimitsAndZeroRatesAreAccepted) {
    sensor()->show();
    chooseMovement(3);
    type_into(edit(sensor(), "FOValong_3"), "180");
    type_into(edit(sensor(), "PRF_3"), "0");
    type_into(edit(sensor(), "Scannerfreq_3"), "0");
    type_into(edit(sensor(), "FOV_3"), "0");
    EXPECT_TRUE(clickScannerNext().empty());
    EXPECT_TRUE(real()->isVisible());
}

TEST_F(FlightWizard, RealisticSwitchEnablesBothEquationGroups) {
    real()->show();
    QGroupBox* position = in<QGroupBox>(real(), "groupBox");
    QGroupBox* attitude = in<QGroupBox>(real(), "groupBox_2");
    EXPECT_EQ(position->title(), "Position Equations (x, y, z)");
    EXPECT_EQ(attitude->title(), "Eular Angles Equations (roll, pitch, yaw)");

    checkRealistic();
    EXPECT_TRUE(in<QCheckBox>(real(), "RealTrajectory")->isChecked());
    EXPECT_TRUE(position->isEnabled());
    EXPECT_TRUE(attitude->isEnabled());
    checkRealistic();
    EXPECT_FALSE(position->isEnabled());
    EXPECT_FALSE(attitude->isEnabled());
}

TEST_F(FlightWizard, DoneEmitsOnceClosesAndKeepsTheTypedTerms) {
    real()->show();
    QSignalSpy ran(real(), &real_trajectory::successfully_ran);
    checkRealistic();
    // Every term gets its own value: set s, term k holds s + k / 10.
    for (int s = 0; s < 6; ++s)
        for (int k = 0; k < 4; ++k) type_into(edit(real(), kTermNames[s][k]), QString::number(s + k / 10.0));
    type_into(edit(real(), "Dz_2"), "-");  // an unfinished number reads as 0

    EXPECT_TRUE(click_collecting_boxes(in<QPushButton>(real(), "pushButton")).empty());
    EXPECT_EQ(ran.count(), 1);
    EXPECT_FALSE(real()->isVisible());

    bool realistic = false;
    TrajectoryTerms terms;
    real()->read(realistic, terms);
    EXPECT_TRUE(realistic);
    ASSERT_EQ(terms.size(), 6u);
    for (int s = 0; s < 6; ++s) {
        ASSERT_EQ(terms[s].size(), 4u);
        for (int k = 0; k < 4; ++k) {
            const double expected = (s == 5 && k == 3) ? 0.0 : s + k / 10.0;
            EXPECT_DOUBLE_EQ(terms[s][k], expected) << kTermNames[s][k];
        }
    }
}

TEST_F(FlightWizard, DoneWithoutTheSwitchLeavesTermsAtZero) {
    real()->show();
    QSignalSpy ran(real(), &real_trajectory::successfully_ran);
    edit(real(), "Ax")->setText("0.5");  // disabled: only code can put text there
    QTest::mouseClick(in<QPushButton>(real(), "pushButton"), Qt::LeftButton);
    EXPECT_EQ(ran.count(), 1);

    bool realistic = true;
    TrajectoryTerms terms;
    real()->read(realistic, terms);
    EXPECT_FALSE(realistic);
    EXPECT_EQ(terms, TrajectoryTerms(6, std::vector<double>(4, 0.0)));
}

TEST_F(FlightWizard, WholeWizardReadsIntoWizardValues) {
    type_into(edit(&flight, "PlaneDirection"), "45.5");
    type_into(edit(&flight, "PlaneVelocity_2"), "70");
    type_into(edit(&flight, "Overlap"), "25");
    type_into(edit(&flight, "MeanElevation"), "800");
    ASSERT_TRUE(clickFlightNext().empty());

    chooseMovement(3);
    type_into(edit(sensor(), "PRF_3"), "12.5");
    type_into(edit(sensor(), "Scannerfreq_3"), "33");
    type_into(edit(sensor(), "FOV_3"), "40");
    type_into(edit(sensor(), "FOValong_3"), "15");
    ASSERT_TRUE(clickScannerNext().empty());

    QSignalSpy ran(real(), &real_trajectory::successfully_ran);
    checkRealistic();
    type_into(edit(real(), "By"), "0.25");
    type_into(edit(real(), "Cz_2"), "-0.5");
    QTest::mouseClick(in<QPushButton>(real(), "pushButton"), Qt::LeftButton);
    ASSERT_EQ(ran.count(), 1);

    WizardValues values;
    flight.read(values);
    EXPECT_EQ(values.flight.orientation, 45.5);
    EXPECT_EQ(values.flight.velocity, 70.0);
    EXPECT_EQ(values.flight.overlap, 25.0);
    EXPECT_EQ(values.flight.meanHeight, 800.0);
    EXPECT_EQ(values.scanner.prf, 12500.0);  // typed in kHz
    EXPECT_EQ(values.scanner.scanFrequency, 33.0);
    EXPECT_EQ(values.scanner.fovAcross, 40.0);
    EXPECT_EQ(values.scanner.fovAlong, 15.0);
    EXPECT_EQ(values.scanner.pattern, Elliptical);
    EXPECT_TRUE(values.realisticTrajectory);
    TrajectoryTerms expected(6, std::vector<double>(4, 0.0));
    expected[1][1] = 0.25;
    expected[5][2] = -0.5;
    EXPECT_EQ(values.trajectoryTerms, expected);
}

}  // namespace
