#pragma once
// The tree's eight 16x16 state images, drawn once on first use, and the state
// index a tree node carries. UI thread only.

#include <QPixmap>

class QTreeWidgetItem;

constexpr int StateImageCount = 8;

// 0 dark lamp, 1 lit green lamp, 2 dark green lamp, 3 server with a green
// start arrow, 4 server with a red stop square, 5 yellow lamp, 6 sun,
// 7 four blue squares.
[[nodiscard]] const QPixmap &statePicture(int index);

// The picture a node shows, by what it stands for.
enum class NodeImage : int {
    None = 0,
    Connected = 1,
    Disconnected = 2,
    Listening = 3,
    Stopped = 4,
    Udp = 5,
    Group = 6,
    KindNode = 7,
};

void setNodeImage(QTreeWidgetItem *node, NodeImage image);
[[nodiscard]] NodeImage nodeImageOf(const QTreeWidgetItem *node);
