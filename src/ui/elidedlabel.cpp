#include "ui/elidedlabel.h"

#include <QPainter>
#include <QStyle>

QString ElidedLabel::shownText() const
{
    const QString whole = text();
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width();
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    const qsizetype detailAt = whole.indexOf(QLatin1Char(':')) + 1;
    const QString caption = whole.left(detailAt);
    const int detailRoom = room - metrics.horizontalAdvance(caption);
    if (detailAt == 0 || detailRoom <= metrics.horizontalAdvance(QChar(0x2026)))
        return metrics.elidedText(whole, Qt::ElideRight, room);
    return caption + metrics.elidedText(whole.mid(detailAt), Qt::ElideMiddle, detailRoom);
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(
        &painter, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}
