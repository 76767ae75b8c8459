#pragma once
#include <QDialog>

namespace Ui {
class formatting_options;
}

// Picks the layout of the trajectory file. formatCode: 3 for "Format 1"
// (position, direction cosines, Euler angles), 2 for "Format 2" (position,
// Euler angles), 1 for "Format 3" (position, direction cosines); 0 before
// any choice. Choice and boxes stay for the whole run.
class formatting_options : public QDialog {
    Q_OBJECT
public:
    explicit formatting_options(QWidget* parent = nullptr);
    ~formatting_options() override;

    int formatCode() const { return formatCode_; }

signals:
    // Declared with an int result that no receiver provides or uses.
    int successfully_ran();

private slots:
    void on_checkBox_toggled(bool checked);
    void on_checkBox_2_toggled(bool checked);
    void on_checkBox_3_toggled(bool checked);
    void on_pushButton_clicked();

private:
    Ui::formatting_options* ui;
    int formatCode_ = 0;
};
