#pragma once
#include <QDialog>
#include <memory>

#include "flight/parameters.h"

class QDoubleValidator;
class real_trajectory;
namespace Ui {
class sensor_movement_details;
}

// Second wizard page: the laser scanner. Owns the last page.
class sensor_movement_details : public QDialog {
    Q_OBJECT

public:
    explicit sensor_movement_details(QWidget* parent = nullptr);
    ~sensor_movement_details() override;

    real_trajectory* realPage() const { return realPage_; }

    // The scanner values as the fields hold them now (prf in Hz).
    ScannerParameters scannerValues() const;
    // This page's values, then the switch and terms of the last page.
    void read(ScannerParameters& scanner, bool& realistic, TrajectoryTerms& terms) const;

public slots:
    void on_Movementype_3_activated(int index);
    void on_Next_clicked();

private:
    std::unique_ptr<Ui::sensor_movement_details> ui;
    QDoubleValidator* validator = nullptr;
    real_trajectory* realPage_ = nullptr;
};
