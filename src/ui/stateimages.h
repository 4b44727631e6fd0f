#pragma once
// The tree's eight 16x16 state images, drawn once on first use, and the state
// index a tree node carries. UI thread only.

#include <QPixmap>

class QTreeWidgetItem;

constexpr int StateImageCount = 8;

// 0 dark lamp, 1 lit green lamp, 2 dark green lamp, 3 server with a green
// start arrow, 4 server with a red stop square, 5 yellow lamp, 6 sun,
// 7 four blue squares.
[[nodiscard]] const QPixmap &StateImage(int index);

void SetStateIndex(QTreeWidgetItem *node, int index);
[[nodiscard]] int StateIndex(const QTreeWidgetItem *node);
