#pragma once
// (Not named ui_*.h: the build would take that for a generated form header.)
#include <QString>
#include <QUrl>

class QWidget;

// The few places where the main window hands control to the desktop: the
// open and save file dialogs and the browser. Tests install their own seam
// to answer the dialogs without a user.
class UiSeam {
public:
    virtual ~UiSeam() = default;
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter);
    // selectedFilter, when not null, receives the filter the user picked.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter, QString* selectedFilter);
    virtual bool openUrl(const QUrl& url);
};

// Where a save dialog starts: the name that dialog chose last, else the
// folder of the last file any save wrote (with no name filled in, so that
// Enter cannot overwrite a file of another kind), else the default folder.
QString save_dialog_start(const QString& lastName, const QString& lastSaved);

// The seam in use: the installed one, else the desktop's own dialogs.
UiSeam& ui_seam();
// Installs a seam (not owned); nullptr restores the desktop's dialogs.
void install_ui_seam(UiSeam* seam);
