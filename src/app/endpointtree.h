#pragma once
// The endpoint tree: a tree widget whose drag and drop links endpoints instead
// of moving nodes. The main window decides what may be dropped where. UI
// thread only.

#include <QTreeWidget>

#include <functional>

class TEndpointTree : public QTreeWidget {
    Q_OBJECT

public:
    explicit TEndpointTree(QWidget *parent = nullptr);

    // dragged is the selected node, target the node under the pointer (or none).
    std::function<bool(QTreeWidgetItem *dragged, QTreeWidgetItem *target)> dragOver;
    std::function<void(QTreeWidgetItem *target)> dragDrop;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    [[nodiscard]] Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
};
