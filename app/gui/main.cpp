#include "app/gui/MainWindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    window.setWindowTitle(QStringLiteral("Pointfall 4.0"));
    window.setWindowIcon(QIcon(QStringLiteral(":/Resources/Logo.png")));
    window.show();
    return app.exec();
}
