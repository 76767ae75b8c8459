#pragma once
#include <QDialog>

namespace Ui {
class Dialog_unit;
}
class QRadioButton;

// The unit question of the OBJ import. unitChoice: 0 until a unit was ever
// picked, then 1 Meters, 2 Centimeters, 3 Millimeters, 4 Feet, 5 Inches; it
// is kept for the whole run, so OK alone reuses the unit picked before.
class Dialog_unit : public QDialog {
    Q_OBJECT
public:
    explicit Dialog_unit(QWidget* parent = nullptr);
    ~Dialog_unit() override;

    int unitChoice() const { return unitChoice_; }

signals:
    void successfully_ran();

private slots:
    void on_radioButton_clicked(bool checked);
    void on_radioButton_2_clicked(bool checked);
    void on_radioButton_3_clicked(bool checked);
    void on_radioButton_4_clicked(bool checked);
    void on_radioButton_5_clicked(bool checked);
    void on_pushButton_clicked();

private:
    void choose(bool checked, int unit);

    Ui::Dialog_unit* ui;
    int unitChoice_ = 0;
};
