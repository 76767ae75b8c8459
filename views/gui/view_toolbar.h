#pragma once
#include <QHBoxLayout>
#include <QPushButton>
#include <QWidget>

// The strip above each view: its controls on the left, a short summary,
// and "Save PNG" at the right end.
class ViewToolbar : public QWidget {
    Q_OBJECT
public:
    explicit ViewToolbar(QWidget* parent = nullptr) : QWidget(parent), layout_(new QHBoxLayout(this)) {
        layout_->setContentsMargins(8, 3, 6, 3);
        layout_->setSpacing(8);
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor(238, 240, 243));
        setPalette(pal);
    }
    void addWidget(QWidget* widget, int stretch = 0) { layout_->addWidget(widget, stretch); }
    void addStretch() { layout_->addStretch(1); }
    QPushButton* addSaveButton() {
        auto* button = new QPushButton(QStringLiteral("Save PNG..."), this);
        button->setObjectName(QStringLiteral("savePng"));
        button->setToolTip(QStringLiteral("Save this view as a PNG picture"));
        layout_->addWidget(button);
        return button;
    }

private:
    QHBoxLayout* layout_;
};
