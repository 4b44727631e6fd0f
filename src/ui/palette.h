#pragma once
// The program's own background colours, and the one way a panel is given a
// background of its own. Qt's default palette has no cream, and a widget
// without a background of its own shows its parent's, so every panel that
// should differ is painted here. UI thread only.

#include <QColor>
#include <QPalette>

#include <initializer_list>

class QWidget;

namespace Colours {
// Panels, dialogs and the area behind the data windows.
inline constexpr QColor Cream(255, 251, 240);
// The data window's log.
inline constexpr QColor LogBackground(247, 249, 253);
} // namespace Colours

// Sets `roles` of the widget's palette (which its children inherit) to
// `colour` and has the widget fill its own background. Window is the
// widget's own surface; Base is that of the text boxes it holds or is.
void paintBackground(QWidget *widget, const QColor &colour,
    std::initializer_list<QPalette::ColorRole> roles = {QPalette::Window});
