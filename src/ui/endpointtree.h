#pragma once
// The endpoint tree: a tree widget whose drag and drop links endpoints instead
// of moving nodes. Its owner decides what may be dropped where (the link
// rule) and does the linking (on linkRequested). UI thread only.

#include <QList>
#include <QPersistentModelIndex>
#include <QTreeWidget>

#include <array>
#include <functional>
#include <utility>

class QAction;
class Throttle;

class EndpointTree : public QTreeWidget {
    Q_OBJECT

public:
    explicit EndpointTree(QWidget *parent = nullptr);

    // In the rule and the signal, dragged is the node the drag started from
    // (nullptr once it is gone), target the node under the pointer (or
    // nullptr over empty space).
    using LinkRule = std::function<bool(QTreeWidgetItem *dragged, QTreeWidgetItem *target)>;
    // Asked as a drag from this tree moves: whether a drop here would link.
    // Without a rule no drop is taken.
    void setLinkRule(LinkRule rule) { linkRule_ = std::move(rule); }

    // Selects the node now or, when nodes are selected in a burst, with the
    // next change of the selection a moment later: selecting right after an
    // insertion lays out every row again, which ten thousand peers arriving
    // at once would pay ten thousand times. A selection made meanwhile by any
    // other means wins over the pending one.
    void selectSoon(QTreeWidgetItem *node);

    // Deletes these children of the node in as few changes of the model as
    // it can: all of them at once when all go, else the rest taken out and
    // put back, each one change however many go. Each change costs the view
    // and an assistive technology's view of it work that grows with the
    // rows; a server's thousand peers leaving one by one paid it a thousand
    // times. What stays keeps its selection. When the current node goes, the
    // node the tree would have chosen, had they been deleted one after
    // another in this order, becomes current first, in one change.
    void removeChildren(QTreeWidgetItem *parent, const QList<QTreeWidgetItem *> &gone);

    // The commands of the tree's context menu, in order; the owner keeps
    // them (they may carry the window's shortcuts too). None: no menu.
    void setMenuActions(QList<QAction *> actions) { menuActions_ = std::move(actions); }

    // The node being dragged, while a drag from this tree runs.
    [[nodiscard]] QTreeWidgetItem *draggedNode() const;
    void setDraggedNode(QTreeWidgetItem *node);

signals:
    // A drag from this tree was dropped.
    void linkRequested(QTreeWidgetItem *dragged, QTreeWidgetItem *target);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
        const QList<int> &roles = QList<int>()) override;
    bool viewportEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    [[nodiscard]] Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }

private:
    LinkRule linkRule_;
    QList<QAction *> menuActions_;

    // The column is as wide as the widest node text seen (the tree scrolls
    // sideways when the view is narrower), so no text is cut short. Kept by
    // hand: asked to fit its contents, the header measures rows on every
    // insertion, which a burst of peers pays for again and again.
    void widenFor(const QModelIndex &index);
    void applyColumnWidth();
    [[nodiscard]] int characterAdvances(const QString &text);
    int widest_ = 0;
    int widestEstimate_ = -1; // characterAdvances + indent of the widest measured node
    std::array<int, 128> asciiAdvances_{}; // -1: not measured yet

    void selectPending();
    Throttle *selectionThrottle_;
    QPersistentModelIndex pendingSelection_;

    // The drag runs a nested event loop, in which a peer may arrive and take
    // the selection, or the dragged node may be deleted.
    QPersistentModelIndex dragged_;
};
