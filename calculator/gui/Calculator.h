#pragma once
#include <QDialog>
#include <memory>

class QDoubleValidator;
namespace Ui {
class Calculator;
}

// Flight planning: leave one of the five boxes empty and "Calculate" fills
// it from the other four.
class Calculator : public QDialog {
    Q_OBJECT

public:
    explicit Calculator(QWidget* parent = nullptr);
    ~Calculator() override;

public slots:
    void on_Calculate_clicked();

private:
    std::unique_ptr<Ui::Calculator> ui;
    QDoubleValidator* validator = nullptr;
};
