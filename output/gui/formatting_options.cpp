#include "output/gui/formatting_options.h"

#include "app/gui/error_box.h"
#include "ui_formatting_options.h"

formatting_options::formatting_options(QWidget* parent) : QDialog(parent), ui(new Ui::formatting_options) {
    ui->setupUi(this);
}

formatting_options::~formatting_options() { delete ui; }

// The three boxes act as a group with at most one checked; unchecking the
// checked one leaves none and keeps the code.
void formatting_options::on_checkBox_toggled(bool checked) {
    if (!checked) return;
    ui->checkBox_2->setChecked(false);
    ui->checkBox_3->setChecked(false);
    formatCode_ = 3;
}

void formatting_options::on_checkBox_2_toggled(bool checked) {
    if (!checked) return;
    ui->checkBox->setChecked(false);
    ui->checkBox_3->setChecked(false);
    formatCode_ = 2;
}

void formatting_options::on_checkBox_3_toggled(bool checked) {
    if (!checked) return;
    ui->checkBox->setChecked(false);
    ui->checkBox_2->setChecked(false);
    formatCode_ = 1;
}

void formatting_options::on_pushButton_clicked() {
    if (!ui->checkBox->isChecked() && !ui->checkBox_2->isChecked() && !ui->checkBox_3->isChecked()) {
        show_error_box(this, QStringLiteral("No option selected!"));
        return;
    }
    close();
    emit successfully_ran();
}
