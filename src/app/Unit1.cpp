#include "app/Unit1.h"

#include <QApplication>
#include <QMainWindow>

int RunPortwright(QApplication &app)
{
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Portwright V2.5"));
    window.show();
    return app.exec();
}
