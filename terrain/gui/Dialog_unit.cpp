#include "terrain/gui/Dialog_unit.h"

#include "app/gui/error_box.h"
#include "ui_dialog_unit.h"

Dialog_unit::Dialog_unit(QWidget* parent) : QDialog(parent), ui(new Ui::Dialog_unit) { ui->setupUi(this); }

Dialog_unit::~Dialog_unit() { delete ui; }

void Dialog_unit::choose(bool checked, int unit) {
    if (checked) unitChoice_ = unit;
}

void Dialog_unit::on_radioButton_clicked(bool checked) { choose(checked, 1); }
void Dialog_unit::on_radioButton_2_clicked(bool checked) { choose(checked, 2); }
void Dialog_unit::on_radioButton_3_clicked(bool checked) { choose(checked, 3); }
void Dialog_unit::on_radioButton_4_clicked(bool checked) { choose(checked, 4); }
void Dialog_unit::on_radioButton_5_clicked(bool checked) { choose(checked, 5); }

void Dialog_unit::on_pushButton_clicked() {
    if (unitChoice_ == 0) {
        show_error_box(this, QStringLiteral("Please select a unit for the 3D model!"));
        return;
    }
    // Clear the selection so the dialog opens blank next time. An exclusive
    // radio button refuses to be unchecked, so lift that for the moment.
    for (QRadioButton* button :
         {ui->radioButton, ui->radioButton_2, ui->radioButton_3, ui->radioButton_4, ui->radioButton_5}) {
        if (!button->isChecked()) continue;
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
    emit successfully_ran();
    close();
}
