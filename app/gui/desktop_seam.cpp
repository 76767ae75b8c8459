#include "app/gui/desktop_seam.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>

QString UiSeam::openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString UiSeam::saveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                             QString* selectedFilter) {
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter);
}

bool UiSeam::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QString save_dialog_start(const QString& lastName, const QString& lastSaved) {
    if (!lastName.isEmpty()) return lastName;
    return lastSaved.isEmpty() ? QString() : QFileInfo(lastSaved).absolutePath();
}

namespace {

UiSeam& desktop_seam() {
    static UiSeam seam;
    return seam;
}

UiSeam* installed = nullptr;

}  // namespace

UiSeam& ui_seam() { return installed ? *installed : desktop_seam(); }

void install_ui_seam(UiSeam* seam) { installed = seam; }
