// The three pages of the "Scanner and Flight details" wizard, driven as a
// user would: typing into the fields and clicking the buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>

#include "flight/gui/flight_trajectory.h"
#include "flight/gui/real_trajectory.h"
#include "flight/gui/sensor_movement_details.h"
#include "support/gui_test_support.h"

using gui_test::type_into;

namespace {

const char* const kFov = "FOV should be between 0 - 180 degrees.";

// Text that only looks like a number ("1,5" with a decimal comma) would read
// as 0: it is refused naming the field, after the blank checks and before
// the value checks.
QString comma(const QString& field, const QString& text) {
    return field + ": \"" + text + "\" is not a number. Use a decimal point, e.g. 1.5.";
}

// A field, the text typed into it, and the message Next then shows ("" =
// the page is accepted and closes).
using Step = std::tuple<const char*, const char*, QString>;

class FlightWizard : public ::testing::Test {
protected:
    void SetUp() override {
        flight.prepare(345.0, 400.0);  // a model 345 m high and 2000 m wide
        flight.show();
    }

    template <class T = QLineEdit>
    T* in(QWidget* page, const char* name) { return page->findChild<T*>(name); }
    sensor_movement_details* sensor() { return flight.sensorPage(); }
    real_trajectory* real() { return sensor()->realPage(); }

    // Blanks each field in turn (the others as they are), then plays the steps.
    void checkPage(QDialog* page, const char* next, const QStringList& fields, const char* blankMessage,
                   const std::vector<Step>& steps) {
        auto clickNext = [&] { return gui_test::click_catching_boxes(in<QPushButton>(page, next)); };
        for (const QString& name : fields) {
            auto* field = page->findChild<QLineEdit*>(name);
            const QString kept = field->text();
            field->setText("");
            EXPECT_EQ(clickNext(), gui_test::error_box(blankMessage)) << name.toStdString();
            field->setText(kept);
        }
        for (const auto& [field, text, message] : steps) {
            page->show();
            type_into(in(page, field), text);
            EXPECT_EQ(clickNext(), gui_test::error_box(message)) << field << " = " << text;
            EXPECT_EQ(page->isVisible(), !message.isEmpty()) << field << " = " << text;
        }
    }
    // Picks a scanner movement with the keyboard, which emits `activated`.
    void chooseMovement(int index) {
        auto* combo = in<QComboBox>(sensor(), "Movementype_3");
        while (combo->currentIndex() < index) QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > index) QTest::keyClick(combo, Qt::Key_Up);
    }

    flight_trajectory flight;
};

TEST_F(FlightWizard, PrepareSuggestsThenFlightNextChecksTheFieldsInOrderAndShowsTheScannerPage) {
    EXPECT_EQ(in<QLabel>(&flight, "MaximumSceneHeight")->text(), "Maximum Height of 3D model = 345 m");
    EXPECT_EQ(in(&flight, "MeanElevation")->text(), "1000");
    EXPECT_EQ(in(&flight, "PlaneVelocity_2")->text(), "100");
    const char* const orientation = "Flight Orientation should be between 0 - 180 degrees!";
    const char* const velocity = "Velocity should be positive!";
    const char* const overlap = "Overlap should be between 0 - 100%.";
    type_into(in(&flight, "PlaneDirection"), "200");  // a blank is reported before it
    // Each message stays until its field is repaired: the checks run in order.
    checkPage(&flight, "Cancel", {"PlaneDirection", "PlaneVelocity_2", "Overlap", "MeanElevation"},
              "One or more entires are left blank!!",
              {{"PlaneVelocity_2", "1,5", comma("Flight Velocity", "1,5")},
               {"Overlap", "", "One or more entires are left blank!!"},
               {"Overlap", "1,000", comma("Flight Velocity", "1,5")},  // the first field is named
               {"PlaneVelocity_2", "-1", comma("Overlap Percentage", "1,000")},
               {"Overlap", "30", orientation},
               {"PlaneDirection", "-1", orientation}, {"PlaneDirection", "180.5", orientation},
               {"PlaneVelocity_2", "-1", orientation}, {"PlaneDirection", "180", velocity},
               {"PlaneVelocity_2", "0", velocity}, {"Overlap", "101", velocity},
               {"PlaneVelocity_2", "1", overlap}, {"MeanElevation", "344.999", overlap},
               {"Overlap", "100", "Flying height is lower than the highest point of terrain model!"},
               {"MeanElevation", "345", ""}});  // level with the model top is enough
    EXPECT_TRUE(sensor()->isVisible());
}

TEST_F(FlightWizard, ScannerNextChecksTheFieldsThenShowsTheRealisticPage) {
    for (int index : {1, 2, 3, 0, 3}) {  // only Elliptical uses the along-track FOV
        chooseMovement(index);
        EXPECT_EQ(in(sensor(), "FOValong_3")->isEnabled(), index == 3) << index;
    }
    type_into(in(sensor(), "PRF_3"), "-1");  // blanks are reported before these
    type_into(in(sensor(), "Scannerfreq_3"), "-0.5");
    checkPage(sensor(), "Next", {"PRF_3", "Scannerfreq_3", "FOV_3", "FOValong_3"},
              "One or more entires are left blank!",
              {{"PRF_3", "1,5", comma("Pulse Repetition Frequency", "1,5")},
               {"PRF_3", "2e", "Pulse Repetition Frequency: \"2e\" is not a number."},
               {"PRF_3", "-1", "PRF should be greater than 0."}, {"FOV_3", "180.5", "PRF should be greater than 0."},
               {"PRF_3", "0", "Scanning Frequency should be greater than 0."},
               {"Scannerfreq_3", "0", kFov}, {"FOV_3", "-1", kFov}, {"FOV_3", "0", ""},
               {"FOValong_3", "180.5", kFov}, {"FOValong_3", "180", ""}});
    EXPECT_TRUE(real()->isVisible());

    // Out of range, or not a number, but unused by the spherical scanner: accepted.
    for (const char* unused : {"200", "1,5"}) {
        sensor()->show();
        chooseMovement(3);
        type_into(in(sensor(), "FOValong_3"), unused);
        chooseMovement(2);
        EXPECT_EQ(gui_test::click_catching_boxes(in<QPushButton>(sensor(), "Next")), QStringList()) << unused;
    }
}

TEST_F(FlightWizard, RealisticSwitchAndDoneThenTheWizardReadsAllThreePages) {
    for (auto [name, text] : {std::pair{"PlaneDirection", "45.5"}, {"PlaneVelocity_2", "70"}, {"Overlap", "25"},
                              {"MeanElevation", "800"}})
        type_into(in(&flight, name), text);
    chooseMovement(3);
    for (auto [name, text] :
         {std::pair{"PRF_3", "12.5"}, {"Scannerfreq_3", "33"}, {"FOV_3", "40"}, {"FOValong_3", "15"}})
        type_into(in(sensor(), name), text);
    QSignalSpy ran(real(), &real_trajectory::successfully_ran);
    real()->show();
    auto* position = in<QGroupBox>(real(), "groupBox");
    auto* attitude = in<QGroupBox>(real(), "groupBox_2");
    EXPECT_FALSE(position->isEnabled() || attitude->isEnabled());
    auto* done = in<QPushButton>(real(), "pushButton");
    in<QCheckBox>(real(), "RealTrajectory")->click();
    EXPECT_TRUE(position->isEnabled() && attitude->isEnabled());  // the switch enables both equation groups
    type_into(in(real(), "By"), "0,25");
    EXPECT_EQ(gui_test::click_catching_boxes(done), gui_test::error_box(comma("Term B of y", "0,25")));
    EXPECT_TRUE(ran.isEmpty());
    in<QCheckBox>(real(), "RealTrajectory")->click();  // off: the boxes are not read
    EXPECT_EQ(gui_test::click_catching_boxes(done), QStringList());
    real()->show();
    in<QCheckBox>(real(), "RealTrajectory")->click();
    type_into(in(real(), "By"), "0.25");
    type_into(in(real(), "Cz_2"), "-0.5");
    type_into(in(real(), "Dz_2"), "-");  // an unfinished number reads as 0
    EXPECT_EQ(gui_test::click_catching_boxes(done), QStringList());
    EXPECT_EQ(ran.count(), 2);

    WizardValues values;
    flight.read(values);
    const FlightParameters& f = values.flight;
    const ScannerParameters& sc = values.scanner;
    EXPECT_EQ((std::vector<double>{f.orientation, f.velocity, f.overlap, f.meanHeight, sc.prf, sc.scanFrequency,
                                   sc.fovAcross, sc.fovAlong, double(sc.pattern)}),
              (std::vector<double>{45.5, 70, 25, 800, 12500 /* typed in kHz */, 33, 40, 15, Elliptical}));
    EXPECT_TRUE(values.realisticTrajectory);
    TrajectoryTerms expected(6, std::vector<double>(4, 0.0));
    expected[1][1] = 0.25;  // By: second term of y
    expected[5][2] = -0.5;  // Cz_2: third term of yaw
    EXPECT_EQ(values.trajectoryTerms, expected);
}

// The fields take a decimal point whatever the user's locale, so the advice
// above can be followed.
TEST(DecimalPoint, CanBeTypedUnderACommaLocale) {
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
