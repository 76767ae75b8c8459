#pragma once
// Helpers of the widget tests: catching the modal message boxes an action
// raises, typing into fields, and a seam that answers the file dialogs.
#include "app/gui/desktop_seam.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <functional>
#include <ostream>
#include <string>
#include <gtest/gtest.h>
#include <vector>

// Failure messages show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace gui_test {

struct CaughtBox {
    QString title, text;
    QStringList buttons;  // button texts without '&', in the box's order
};

// Runs an action and answers every modal message box that opens meanwhile:
// with the next button text of `answers`, else with the box's first button.
// A timer re-armed from inside the box's own event loop looks for the active
// modal widget; the catcher is the timers' context object, so a timer left
// over dies with it and cannot fire into a later test.
class BoxCatcher : public QObject {
public:
    std::vector<CaughtBox> run(const std::function<void()>& action, QStringList answers = {}) {
        boxes_.clear();
        answers_ = answers;
        armed_ = true;
        arm();
        action();
        armed_ = false;
        return boxes_;
    }

private:
    void arm() { QTimer::singleShot(0, this, [this] { poll(); }); }
    void poll() {
        if (!armed_) return;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            CaughtBox caught{box->windowTitle(), box->text(), {}};
            QAbstractButton* target = box->buttons().value(0);
            const QString wanted = answers_.isEmpty() ? QString() : answers_.takeFirst();
            for (QAbstractButton* b : box->buttons()) {
                caught.buttons << b->text().remove(QLatin1Char('&'));
                if (caught.buttons.last() == wanted) target = b;
            }
            boxes_.push_back(caught);
            if (target) target->click();
        }
        arm();
    }

    std::vector<CaughtBox> boxes_;
    QStringList answers_;
    bool armed_ = false;
};

inline std::vector<CaughtBox> catch_boxes(const std::function<void()>& action, const QStringList& answers = {}) {
    BoxCatcher catcher;
    return catcher.run(action, answers);
}
inline std::vector<CaughtBox> click_catching_boxes(QAbstractButton* button) {
    return catch_boxes([button] { QTest::mouseClick(button, Qt::LeftButton); });
}
inline std::vector<CaughtBox> trigger_catching_boxes(QAction* action, const QStringList& answers = {}) {
    return catch_boxes([action] { action->trigger(); }, answers);
}

// Exactly one "Error" box with one OK button and this text; an empty text
// means no box at all.
inline ::testing::AssertionResult shows_error(const std::vector<CaughtBox>& boxes, const QString& text) {
    if (text.isEmpty() ? boxes.empty()
                       : boxes.size() == 1 && boxes[0].title == "Error" && boxes[0].text == text &&
                             boxes[0].buttons == QStringList{"OK"})
        return ::testing::AssertionSuccess();
    const std::string wanted = text.isEmpty() ? "no box" : "one Error box \"" + text.toStdString() + "\"";
    auto failure = ::testing::AssertionFailure() << "wanted " << wanted << ", saw";
    for (const CaughtBox& b : boxes)
        failure << " [" << b.title.toStdString() << ": \"" << b.text.toStdString() << "\" "
                << b.buttons.join('|').toStdString() << "]";
    return failure;
}

// Replaces the text of an enabled line edit by typing, through its validator.
inline void type_into(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// Answers the file dialogs from a list of names ("" or none left = cancelled)
// and records every request.
class FakeSeam : public UiSeam {
public:
    struct Call {
        QString caption, dir, filter;
    };
    QStringList names;
    QString pickedFilter;  // what the user picked in a save dialog; empty leaves it unset
    std::vector<Call> opens, saves;
    std::vector<QUrl> urls;

    QString openFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter) override {
        opens.push_back({caption, dir, filter});
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter,
                         QString* selectedFilter) override {
        saves.push_back({caption, dir, filter});
        if (selectedFilter && !pickedFilter.isEmpty()) *selectedFilter = pickedFilter;
        return names.isEmpty() ? QString() : names.takeFirst();
    }
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return true;
    }
};

}  // namespace gui_test
