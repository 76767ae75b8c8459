#pragma once
#include <QDialog>
#include <array>
#include <memory>

#include "flight/parameters.h"

class QDoubleValidator;
class QLineEdit;
namespace Ui {
class real_trajectory;
}

// Last wizard page: the optional periodic disturbance of the flight. The
// switch and the six sets of terms (x, y, z, roll, pitch, yaw; A, B, C, D
// each) are kept here between wizard runs; "Done" ends the wizard.
class real_trajectory : public QDialog {
    Q_OBJECT

public:
    explicit real_trajectory(QWidget* parent = nullptr);
    ~real_trajectory() override;

    // The switch and the terms as stored by the last "Done".
    void read(bool& realistic, TrajectoryTerms& terms) const;

signals:
    void successfully_ran();

public slots:
    void on_RealTrajectory_clicked(bool checked);
    void on_pushButton_clicked();

private:
    // The 24 term boxes, set by set: x, y, z, roll, pitch, yaw; A..D in each.
    std::array<std::array<QLineEdit*, 4>, 6> termEdits() const;

    std::unique_ptr<Ui::real_trajectory> ui;
    QDoubleValidator* validator = nullptr;
    bool realistic = false;
    TrajectoryTerms terms;
};
