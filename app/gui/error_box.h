#pragma once
#include <QMessageBox>
#include <QString>
#include <QWidget>

// Every refusal and rejected input is shown the same way: a modal
// information box titled "Error" with the message and one OK button.
inline void show_error_box(QWidget* parent, const QString& message) {
    QMessageBox::information(parent, QStringLiteral("Error"), message, QMessageBox::Ok);
}
