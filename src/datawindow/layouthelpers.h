#pragma once
// Small builders the data window's parts share: fixed-geometry labels and
// buttons, object names, and a child that fills its parent. Colours come from
// ui/palette.

#include "ui/palette.h"

#include <QLatin1String>
#include <QString>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace layout_helpers {

// Names the widget (tests find it by that name) and hands it back.
template <class W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Sizes a widget to fit its fixed caption (measured once per caption and font).
void fitCaption(QWidget *w, const QString &caption);
// A label at (x, y); with a width it is that wide and 17 high, without one it
// fits its text.
QLabel *label(QWidget *parent, const QString &text, int x, int y, int width = -1);
QPushButton *button(QWidget *parent, const QString &caption, int x, int y, int w, int h);
QVBoxLayout *fill(QWidget *parent, QWidget *child);

} // namespace layout_helpers
