#include "app/gui/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    window.setWindowTitle(QStringLiteral("Pointfall 4.0"));
    window.setWindowIcon(QIcon(QStringLiteral(":/Resources/Logo.png")));
    // At the top left, so that the dialogs find room below the window.
    if (QScreen* screen = QGuiApplication::primaryScreen()) window.move(screen->availableGeometry().topLeft());
    window.show();
    return app.exec();
}
