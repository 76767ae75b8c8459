#pragma once
#include "products/product_settings.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QLabel;

// The settings of "Export Survey Point Cloud...": the coordinate reference
// system (an EPSG code or a WKT file, none when empty), the UTC start time
// of the survey and whether intensities are modelled. OK checks them (PROJ
// knows the system, the time reads as ISO 8601) and stays open, naming the
// problem in red, until they are usable.
class ExportSurveyDialog : public QDialog {
    Q_OBJECT
public:
    explicit ExportSurveyDialog(QWidget* parent = nullptr);

    // The checked settings after an accepted dialog.
    const ProductSettings& settings() const { return settings_; }

    QLineEdit* crsEdit() const { return crs_; }
    QLineEdit* startEdit() const { return start_; }
    QCheckBox* intensityBox() const { return intensity_; }

public slots:
    void accept() override;

private:
    QLineEdit* crs_;
    QLineEdit* start_;
    QCheckBox* intensity_;
    QLabel* problem_;
    ProductSettings settings_;
};
