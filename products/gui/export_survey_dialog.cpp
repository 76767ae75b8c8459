#include "products/gui/export_survey_dialog.h"

#include "app/failure.h"
#include "products/product_tasks.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ExportSurveyDialog::ExportSurveyDialog(QWidget* parent)
    : QDialog(parent),
      crs_(new QLineEdit(this)),
      start_(new QLineEdit(QString::fromLatin1(kDefaultStartTime), this)),
      intensity_(new QCheckBox(QStringLiteral("Intensity from the radiometric model (off: every intensity is 0)"), this)),
      problem_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Export Survey Point Cloud"));
    crs_->setObjectName(QStringLiteral("crs"));
    start_->setObjectName(QStringLiteral("startTime"));
    intensity_->setObjectName(QStringLiteral("intensity"));
    problem_->setObjectName(QStringLiteral("problem"));
    crs_->setPlaceholderText(QStringLiteral("none, EPSG:28992 or a WKT file"));
    intensity_->setChecked(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00020"));
    problem_->setWordWrap(true);
    problem_->hide();

    auto* intro = new QLabel(
        QStringLiteral("Writes every return with its GPS time, scan angle, flight line, intensity and class. "
                       "The file name chosen next decides the format: .las for LAS 1.4 (point format 6), "
                       ".csv for comma-separated text."),
        this);
    intro->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Coordinate reference system:"), crs_);
    form->addRow(QStringLiteral("Start time (UTC, ISO 8601):"), start_);
    form->addRow(intensity_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportSurveyDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportSurveyDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    setMinimumWidth(600);
    adjustSize();
}

void ExportSurveyDialog::accept() {
    try {
        settings_ = product_settings(crs_->text().trimmed().toStdString(), start_->text().trimmed().toStdString(),
                                     intensity_->isChecked());
    } catch (const InputError& e) {
        problem_->setText(QString::fromUtf8(e.what()));
        problem_->show();
        adjustSize();
        return;
    }
    problem_->hide();
    QDialog::accept();
}
