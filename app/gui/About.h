#pragma once
#include <QDialog>

namespace Ui {
class About;
}

// The "About" box of the Help menu: one rich-text label and a rule.
class About : public QDialog {
    Q_OBJECT
public:
    explicit About(QWidget* parent = nullptr);
    ~About() override;

private:
    Ui::About* ui;
};
