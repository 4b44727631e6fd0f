#include "datawindow/layouthelpers.h"

#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace layout_helpers {

// Measuring shapes the text, a cost every window would pay again for the same
// captions (a burst of accepted peers makes a window each), so the size is
// kept per caption and font.
void fitCaption(QWidget *w, const QString &caption)
{
    static QHash<QString, QSize> sizes;
    const QString key
        = w->metaObject()->className() + QLatin1Char('\n') + w->font().key() + QLatin1Char('\n') + caption;
    const auto known = sizes.constFind(key);
    if (known != sizes.constEnd()) {
        w->resize(*known);
        return;
    }
    w->adjustSize();
    sizes.insert(key, w->size());
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, int width)
{
    auto *l = new QLabel(text, parent);
    if (width > 0)
        l->setGeometry(x, y, width, 17);
    else {
        fitCaption(l, text);
        l->move(x, y);
    }
    return l;
}

QPushButton *button(QWidget *parent, const QString &caption, int x, int y, int w, int h)
{
    auto *b = new QPushButton(caption, parent);
    b->setGeometry(x, y, w, h);
    return b;
}

QVBoxLayout *fill(QWidget *parent, QWidget *child)
{
    auto *layout = new QVBoxLayout(parent);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(child);
    return layout;
}

} // namespace layout_helpers
