#include "app/endpointtree.h"

#include "transport/sysutils.h"

#include <QDragMoveEvent>
#include <QDropEvent>

TEndpointTree::TEndpointTree(QWidget *parent)
    : QTreeWidget(parent)
{
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // Copy, never move: a drop links two endpoints and leaves the nodes alone.
    setDefaultDropAction(Qt::CopyAction);
}

void TEndpointTree::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TEndpointTree::dragMoveEvent(QDragMoveEvent *event)
{
    bool accepted = false;
    if (event->source() == this && dragOver)
        Guarded([&] { accepted = dragOver(currentItem(), itemAt(event->position().toPoint())); });
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TEndpointTree::dropEvent(QDropEvent *event)
{
    if (event->source() != this) {
        event->ignore();
        return;
    }
    QTreeWidgetItem *target = itemAt(event->position().toPoint());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (dragDrop)
        Guarded([&] { dragDrop(target); });
}
