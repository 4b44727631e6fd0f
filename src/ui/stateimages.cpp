#include "ui/stateimages.h"

#include <QIcon>
#include <QPainter>
#include <QRadialGradient>
#include <QTreeWidgetItem>

#include <array>
#include <cmath>

namespace {

constexpr int StateRole = Qt::UserRole + 2;

QPixmap canvas()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap lamp(const QColor &centre, const QColor &rim)
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(6.5, 6.5), 7.5);
    glow.setColorAt(0, centre.lighter(150));
    glow.setColorAt(0.6, centre);
    glow.setColorAt(1, rim);
    p.setBrush(glow);
    p.setPen(QPen(rim.darker(130), 1));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return pixmap;
}

void drawServer(QPainter &p)
{
    p.setPen(QPen(QColor(60, 60, 70), 1));
    p.setBrush(QColor(200, 204, 214));
    p.drawRect(QRectF(1.5, 1.5, 8, 13));
    p.setPen(QPen(QColor(90, 90, 100), 1));
    for (int y : {4, 7, 10})
        p.drawLine(QPointF(3, y + 0.5), QPointF(8, y + 0.5));
}

QPixmap server(bool running)
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawServer(p);
    p.setPen(Qt::NoPen);
    if (running) {
        p.setBrush(QColor(20, 170, 40));
        const QPointF arrow[] = {{9, 6}, {15, 10.5}, {9, 15}};
        p.drawPolygon(arrow, 3);
    } else {
        p.setBrush(QColor(210, 30, 30));
        p.drawRect(QRectF(9.5, 7.5, 6, 6));
    }
    return pixmap;
}

QPixmap sun()
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(240, 150, 0), 1.3));
    for (int i = 0; i < 8; ++i) {
        const double a = i * M_PI / 4;
        p.drawLine(QPointF(8 + 5 * std::cos(a), 8 + 5 * std::sin(a)),
            QPointF(8 + 7.5 * std::cos(a), 8 + 7.5 * std::sin(a)));
    }
    p.setBrush(QColor(255, 200, 0));
    p.setPen(QPen(QColor(230, 140, 0), 1));
    p.drawEllipse(QPointF(8, 8), 4, 4);
    return pixmap;
}

QPixmap blueSquares()
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(20, 50, 140), 1));
    p.setBrush(QColor(60, 110, 220));
    for (int x : {1, 9})
        for (int y : {1, 9})
            p.drawRect(x, y, 5, 5);
    return pixmap;
}

std::array<QPixmap, StateImageCount> makeImages()
{
    return {lamp(QColor(70, 70, 70), QColor(30, 30, 30)), lamp(QColor(40, 230, 60), QColor(10, 120, 20)),
        lamp(QColor(20, 90, 30), QColor(10, 50, 15)), server(true), server(false),
        lamp(QColor(255, 220, 30), QColor(190, 140, 0)), sun(), blueSquares()};
}

} // namespace

const QPixmap &statePicture(int index)
{
    static const std::array<QPixmap, StateImageCount> images = makeImages();
    return images.at(size_t(qBound(0, index, StateImageCount - 1)));
}

void setNodeImage(QTreeWidgetItem *node, NodeImage image)
{
    node->setData(0, StateRole, int(image));
    node->setIcon(0, QIcon(statePicture(int(image))));
}

NodeImage nodeImageOf(const QTreeWidgetItem *node)
{
    return NodeImage(node->data(0, StateRole).toInt());
}
