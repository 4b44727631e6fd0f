#pragma once
// A box's context menu (the log's, the send box's) as a user meets it:
// opened with a right click, an item chosen by its caption. The menus open
// without a loop of their own, so a test reads and triggers them directly.

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QStringList>

inline QMenu *openContextMenu(QAbstractScrollArea &view)
{
    QWidget *surface = view.viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), surface->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(surface, &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        qFatal("the context menu did not open");
    return menu;
}

// The captions in order; a separator shows as an empty caption.
inline QStringList contextMenuTexts(QAbstractScrollArea &view)
{
    QMenu *menu = openContextMenu(view);
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text();
    menu->close();
    return texts;
}

inline void chooseFromContextMenu(QAbstractScrollArea &view, const QString &caption)
{
    QMenu *menu = openContextMenu(view);
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == caption)
            chosen = action;
    }
    if (!chosen)
        qFatal("no item \"%s\" in the context menu", qPrintable(caption));
    menu->close();
    chosen->trigger();
}
