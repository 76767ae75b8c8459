#pragma once
// Helpers of the main-window tests: a seam that answers the file dialogs and
// records the browser request, and a catcher for modal message boxes.
#include "app/gui/desktop_seam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <vector>

struct FileDialogCall {
    QString caption, dir, filter;
};

class FakeSeam : public UiSeam {
public:
    QStringList names;         // answers of the file dialogs, in order ("" = cancelled)
    QString pickedFilter;      // the filter the user "selects" in a save dialog
    std::vector<FileDialogCall> opens, saves;
    std::vector<QUrl> urls;

    QString openFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter) override {
        opens.push_back({caption, dir, filter});
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter,
                         QString* selectedFilter) override {
        saves.push_back({caption, dir, filter});
        if (selectedFilter) *selectedFilter = pickedFilter;
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return true;
    }
};

struct SeenBox {
    QString title, text;
    QStringList buttons;
    std::vector<QMessageBox::ButtonRole> roles;
    bool hasEscapeButton = false;
};

// Answers modal message boxes as they come up: each answer() arms one reply
// (the button with the given text, or the first button). Polls the active
// modal widget from the event loop of the box itself; the timers die with
// the catcher, so an unanswered reply cannot leak into another test.
class BoxCatcher : public QObject {
public:
    std::vector<SeenBox> seen;

    void answer(const QString& button = QString()) {
        replies_.push_back(button);
        poll(0);
    }

private:
    void poll(int attempt) {
        QTimer::singleShot(attempt == 0 ? 0 : 20, this, [this, attempt] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || replies_.empty()) {
                if (!replies_.empty() && attempt < 250) poll(attempt + 1);
                return;
            }
            SeenBox s;
            s.title = box->windowTitle();
            s.text = box->text();
            for (QAbstractButton* b : box->buttons()) {
                s.buttons << b->text().remove(QLatin1Char('&'));
                s.roles.push_back(box->buttonRole(b));
            }
            s.hasEscapeButton = box->escapeButton() != nullptr;
            seen.push_back(s);
            const QString wanted = replies_.front();
            replies_.erase(replies_.begin());
            QAbstractButton* target = box->buttons().value(0);
            for (QAbstractButton* b : box->buttons())
                if (!wanted.isEmpty() && b->text().remove(QLatin1Char('&')) == wanted) target = b;
            if (target) target->click();
            if (!replies_.empty()) poll(1);
        });
    }

    std::vector<QString> replies_;
};
