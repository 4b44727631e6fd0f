#pragma once
// Small builders the data window's parts share: fixed-geometry labels and
// buttons, a background colour, and a child that fills its parent.

#include "ui/palette.h"

#include <QColor>
#include <QPalette>
#include <QString>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace layout_helpers {

inline const QColor cream = Colours::Cream;
inline const QColor logBackground = Colours::LogBackground;

void paint(QWidget *w, const QColor &colour, QPalette::ColorRole role = QPalette::Window);
// Sizes a widget to fit its fixed caption (measured once per caption and font).
void fitCaption(QWidget *w, const QString &caption);
// A label at (x, y); with a width it is that wide and 17 high, without one it
// fits its text.
QLabel *label(QWidget *parent, const QString &text, int x, int y, int width = -1);
QPushButton *button(QWidget *parent, const QString &caption, int x, int y, int w, int h);
QVBoxLayout *fill(QWidget *parent, QWidget *child);

} // namespace layout_helpers
