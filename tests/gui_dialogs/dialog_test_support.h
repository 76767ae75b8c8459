#pragma once
// Helpers of the dialog tests: typing into fields and catching the modal
// "Error" boxes the dialogs raise.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <vector>

namespace dialog_test {

struct CaughtBox {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Runs `action` and closes every modal message box that opens while it runs,
// recording title, text and buttons. A single-shot timer, re-armed from
// inside the box's own event loop, looks at the active modal widget; its
// context object dies with the catcher, so a timer left over cannot fire in
// a later test.
class BoxCatcher : public QObject {
public:
    std::vector<CaughtBox> run(const std::function<void()>& action) {
        boxes.clear();
        armed = true;
        arm();
        action();
        armed = false;
        return boxes;
    }

private:
    void arm() {
        QTimer::singleShot(0, this, [this] { poll(); });
    }
    void poll() {
        if (!armed) return;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.push_back({box->windowTitle(), box->text(), box->standardButtons()});
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        }
        arm();
    }

    std::vector<CaughtBox> boxes;
    bool armed = false;
};

// Clicks `button` like a user and returns the boxes it raised.
inline std::vector<CaughtBox> click_collecting_boxes(QAbstractButton* button) {
    BoxCatcher catcher;
    return catcher.run([button] { QTest::mouseClick(button, Qt::LeftButton); });
}

// Replaces the text of an enabled line edit by typing, through its validator.
inline void type_into(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

}  // namespace dialog_test
