#pragma once
#include <QDialog>
#include <QList>
#include <memory>

#include "errors/error_settings.h"

class QDoubleValidator;
class QLineEdit;
namespace Ui {
class Error_Introduction;
}

// The "Error Simulation" dialog: systematic offsets, random deviations and
// overall deviations of the returns. Overall error excludes the other two;
// the check boxes keep that rule themselves.
class Error_Introduction : public QDialog {
    Q_OBJECT

public:
    explicit Error_Introduction(QWidget* parent = nullptr);
    ~Error_Introduction() override;

    // The boxes of each group, in the order X, Y, Z, Roll, Pitch, Yaw, Range
    // (X, Y, Z for the overall group).
    QList<QLineEdit*> systematicEdits() const;
    QList<QLineEdit*> randomEdits() const;
    QList<QLineEdit*> overallEdits() const;
    bool systematicChecked() const;
    bool randomChecked() const;
    bool overallChecked() const;

signals:
    void successfully_ran();

public slots:
    void on_Sys_checkbox_toggled(bool checked);
    void on_Ran_checkbox_toggled(bool checked);
    void on_Overall_checkbox_toggled(bool checked);
    void on_pushButton_2_clicked();

private:
    std::unique_ptr<Ui::Error_Introduction> ui;
    QDoubleValidator* validator = nullptr;
};

// The check-box states and, for each group that is on, its values (text
// that is not a number reads as 0).
ErrorSettings read_error_settings(const Error_Introduction& dialog);
