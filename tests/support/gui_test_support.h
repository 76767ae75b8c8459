#pragma once
// Helpers of the widget tests: catching the modal message boxes an action
// raises, typing into fields, and a seam that answers the file dialogs.
#include "app/gui/desktop_seam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <ostream>
#include <gtest/gtest.h>

// Failure messages show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace gui_test {

// Runs an action and answers every modal message box that opens meanwhile:
// with the button named next in `answers`, else with the box's first button.
// Each box is recorded as "title | text | buttons", the button texts sorted
// (their order on screen is the platform's) and without '&'.
// A timer re-armed from inside the box's own event loop looks for the active
// modal widget; `context` owns the timers, so one left over dies with it and
// cannot fire into a later test. Any other modal widget is handed to
// `other` on every look while it is open.
inline QStringList catch_boxes(const std::function<void()>& action, QStringList answers = {},
                               const std::function<void(QWidget*)>& other = {}) {
    QStringList boxes;
    std::function<void()> poll;
    QObject context;
    poll = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (other && modal && !qobject_cast<QMessageBox*>(modal)) other(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* target = box->buttons().value(0);
            const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
            QStringList buttons;
            for (QAbstractButton* b : box->buttons()) {
                buttons << b->text().remove(QLatin1Char('&'));
                if (buttons.last() == wanted) target = b;
            }
            buttons.sort();
            boxes << box->windowTitle() + " | " + box->text() + " | " + buttons.join(',');
            target->click();
        }
        QTimer::singleShot(0, &context, poll);
    };
    QTimer::singleShot(0, &context, poll);
    action();
    return boxes;
}
inline QStringList click_catching_boxes(QAbstractButton* button) {
    return catch_boxes([button] { QTest::mouseClick(button, Qt::LeftButton); });
}
// What catch_boxes records for one "Error" box with this text; "" = no box.
inline QStringList error_box(const QString& text) {
    return text.isEmpty() ? QStringList() : QStringList{"Error | " + text + " | OK"};
}

// Replaces the text of an enabled line edit by typing, through its validator.
inline void type_into(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// Answers the file dialogs from a list of names ("" or none left = cancelled)
// and records every request as "caption | dir | filter".
class FakeSeam : public UiSeam {
public:
    QStringList names, opens, saves;
    QString pickedFilter;  // what the user picked in a save dialog; empty leaves it unset
    QStringList urls;  // the local files asked for

    QString openFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter) override {
        opens << caption + " | " + dir + " | " + filter;
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter,
                         QString* selectedFilter) override {
        saves << caption + " | " + dir + " | " + filter;
        if (selectedFilter && !pickedFilter.isEmpty()) *selectedFilter = pickedFilter;
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    bool openUrl(const QUrl& url) override {
        urls << url.toLocalFile();
        return true;
    }
};

}  // namespace gui_test
