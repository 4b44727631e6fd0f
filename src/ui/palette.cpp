#include "ui/palette.h"

#include <QWidget>

void paintBackground(QWidget *widget, const QColor &colour, std::initializer_list<QPalette::ColorRole> roles)
{
    QPalette p = widget->palette();
    for (const QPalette::ColorRole role : roles)
        p.setColor(role, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}
