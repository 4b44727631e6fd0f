#pragma once
// The log view's context menu as a user meets it: opened with a right click
// on the log, an item chosen by its caption. The menu opens without a loop of
// its own, so a test reads and triggers it directly.

#include "ui/logview.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QStringList>

inline QMenu *openLogMenu(LogView &view)
{
    QWidget *surface = view.viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), surface->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(surface, &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        qFatal("the log's context menu did not open");
    return menu;
}

// The captions in order; a separator shows as an empty caption.
inline QStringList logMenuTexts(LogView &view)
{
    QMenu *menu = openLogMenu(view);
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text();
    menu->close();
    return texts;
}

inline void chooseFromLogMenu(LogView &view, const QString &caption)
{
    QMenu *menu = openLogMenu(view);
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == caption)
            chosen = action;
    }
    if (!chosen)
        qFatal("no item \"%s\" in the log's context menu", qPrintable(caption));
    menu->close();
    chosen->trigger();
}
