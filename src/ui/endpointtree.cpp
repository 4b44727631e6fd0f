#include "ui/endpointtree.h"

#include "core/errors.h"
#include "core/throttle.h"

#include <QContextMenuEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHash>
#include <QHeaderView>
#include <QMenu>
#include <QSet>
#include <QSignalBlocker>

#include <algorithm>
#include <vector>

EndpointTree::EndpointTree(QWidget *parent)
    : QTreeWidget(parent)
{
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // Copy, never move: a drop links two endpoints and leaves the nodes alone.
    setDefaultDropAction(Qt::CopyAction);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Every node is one line of text with its picture. Knowing that, laying
    // out the rows after an insertion need not measure each of them.
    setUniformRowHeights(true);
    asciiAdvances_.fill(-1);

    selectionThrottle_ = new Throttle(
        std::chrono::milliseconds(100), [this] { selectPending(); }, this);
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
        if (pendingSelection_.isValid() && itemFromIndex(pendingSelection_) != current) {
            pendingSelection_ = QPersistentModelIndex();
            selectionThrottle_->cancel();
        }
    });
}

void EndpointTree::selectSoon(QTreeWidgetItem *node)
{
    pendingSelection_ = QPersistentModelIndex(indexFromItem(node));
    selectionThrottle_->request();
}

void EndpointTree::selectPending()
{
    const QModelIndex index = pendingSelection_;
    pendingSelection_ = QPersistentModelIndex();
    if (index.isValid())
        setCurrentItem(itemFromIndex(index));
}

namespace {

// The node a tree with a single selection makes current when the current
// node is deleted: the next row below it, else the one above, else the
// parent. Applied as each of `gone` (children of `parent`) is deleted in
// order, it gives the node that ends up current; linear in the children.
QTreeWidgetItem *currentAfter(
    QTreeWidgetItem *parent, const QList<QTreeWidgetItem *> &gone, QTreeWidgetItem *current)
{
    const int count = parent->childCount();
    std::vector<int> above(static_cast<size_t>(count));
    std::vector<int> below(static_cast<size_t>(count));
    QHash<const QTreeWidgetItem *, int> rowOf;
    rowOf.reserve(count);
    for (int row = 0; row < count; ++row) {
        above[size_t(row)] = row - 1;
        below[size_t(row)] = row + 1 < count ? row + 1 : -1;
        rowOf.insert(parent->child(row), row);
    }
    int left = count;
    for (const QTreeWidgetItem *node : gone) {
        const int row = rowOf.value(node, -1);
        if (row < 0)
            continue;
        const int up = above[size_t(row)];
        const int down = below[size_t(row)];
        if (node == current)
            current = left == 1 ? parent : parent->child(down >= 0 ? down : up);
        if (up >= 0)
            below[size_t(up)] = down;
        if (down >= 0)
            above[size_t(down)] = up;
        --left;
    }
    return current;
}

} // namespace

void EndpointTree::removeChildren(QTreeWidgetItem *parent, const QList<QTreeWidgetItem *> &gone)
{
    if (gone.isEmpty())
        return;
    const QSet<QTreeWidgetItem *> leaving(gone.cbegin(), gone.cend());
    QTreeWidgetItem *current = currentItem();
    if (current && leaving.contains(current)) {
        // Deleted one by one, each deletion would pick a next current node,
        // bring its window forward and tell assistive technologies, only for
        // that node to go next. The node the tree would end on is made
        // current at once, while every node is still in the tree (its
        // handler may look at any), and the nodes then go together.
        setCurrentItem(currentAfter(parent, gone, current));
        current = currentItem();
        if (current && leaving.contains(current)) {
            for (QTreeWidgetItem *node : gone)
                delete node;
            return;
        }
    }
    if (leaving.size() == parent->childCount()) {
        const QList<QTreeWidgetItem *> taken = parent->takeChildren();
        qDeleteAll(taken);
        return;
    }
    // Out and back in: the current node and the selection are set again
    // without telling anyone, since in the end they have not changed.
    QTreeWidgetItem *pending = pendingSelection_.isValid() ? itemFromIndex(pendingSelection_) : nullptr;
    QTreeWidgetItem *dragged = draggedNode();
    const bool expanded = parent->isExpanded();
    {
        const QSignalBlocker blocker(this);
        const QList<QTreeWidgetItem *> children = parent->takeChildren();
        QList<QTreeWidgetItem *> staying;
        staying.reserve(children.size() - leaving.size());
        for (QTreeWidgetItem *node : children)
            if (!leaving.contains(node))
                staying.push_back(node);
        qDeleteAll(gone);
        parent->addChildren(staying);
        parent->setExpanded(expanded);
        if (current && current->treeWidget() == this)
            setCurrentItem(current);
    }
    if (pending && !leaving.contains(pending))
        pendingSelection_ = QPersistentModelIndex(indexFromItem(pending));
    if (dragged && !leaving.contains(dragged))
        setDraggedNode(dragged);
}

void EndpointTree::widenFor(const QModelIndex &index)
{
    int depth = 0;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        ++depth;
    const int indent = depth * indentation() + 4;
    // Measuring a node through its delegate shapes its text, which ten
    // thousand peers would pay for twice each. The sum of the characters'
    // advances ranks texts nearly as well: a node whose sum is no more than
    // one already measured at that depth, with the same picture and padding,
    // is no wider than the column already is.
    const QString text = index.data(Qt::DisplayRole).toString();
    const int estimate = characterAdvances(text) + indent;
    if (estimate <= widestEstimate_)
        return;
    const int needed = sizeHintForIndex(index).width() + indent;
    // Only a node that has its picture sets the bar for the ones after it.
    if (!index.data(Qt::DecorationRole).isNull())
        widestEstimate_ = estimate;
    if (needed > widest_) {
        widest_ = needed;
        applyColumnWidth();
    }
}

int EndpointTree::characterAdvances(const QString &text)
{
    int sum = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 128) {
            if (asciiAdvances_[u] < 0)
                asciiAdvances_[u] = fontMetrics().horizontalAdvance(c);
            sum += asciiAdvances_[u];
        } else {
            sum += fontMetrics().horizontalAdvance(c);
        }
    }
    return sum;
}

void EndpointTree::applyColumnWidth()
{
    const int width = std::max(widest_, viewport()->width());
    if (columnWidth(0) != width)
        setColumnWidth(0, width);
}

void EndpointTree::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QTreeWidget::rowsInserted(parent, start, end);
    for (int row = start; row <= end; ++row)
        widenFor(model()->index(row, 0, parent));
}

void EndpointTree::dataChanged(
    const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    QTreeWidget::dataChanged(topLeft, bottomRight, roles);
    if (topLeft.column() == 0 && topLeft.parent() == bottomRight.parent())
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
            widenFor(model()->index(row, 0, topLeft.parent()));
}

bool EndpointTree::viewportEvent(QEvent *event)
{
    // The viewport narrows when the vertical scroll bar appears.
    if (event->type() == QEvent::Resize)
        applyColumnWidth();
    return QTreeWidget::viewportEvent(event);
}

void EndpointTree::contextMenuEvent(QContextMenuEvent *event)
{
    if (menuActions_.isEmpty()) {
        QTreeWidget::contextMenuEvent(event);
        return;
    }
    // No nested event loop: an endpoint may come or go while the menu is
    // open, and the menu, a child of the tree, goes with it.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions(menuActions_);
    menu->popup(event->globalPos());
}

QTreeWidgetItem *EndpointTree::draggedNode() const
{
    return dragged_.isValid() ? itemFromIndex(dragged_) : nullptr;
}

void EndpointTree::setDraggedNode(QTreeWidgetItem *node)
{
    dragged_ = node ? QPersistentModelIndex(indexFromItem(node)) : QPersistentModelIndex();
}

void EndpointTree::startDrag(Qt::DropActions supportedActions)
{
    setDraggedNode(currentItem());
    QTreeWidget::startDrag(supportedActions);
    dragged_ = QPersistentModelIndex();
}

void EndpointTree::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void EndpointTree::dragMoveEvent(QDragMoveEvent *event)
{
    bool accepted = false;
    if (event->source() == this && linkRule_)
        Guarded([&] { accepted = linkRule_(draggedNode(), itemAt(event->position().toPoint())); });
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void EndpointTree::dropEvent(QDropEvent *event)
{
    if (event->source() != this) {
        event->ignore();
        return;
    }
    QTreeWidgetItem *target = itemAt(event->position().toPoint());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Guarded([&] { emit linkRequested(draggedNode(), target); });
}
