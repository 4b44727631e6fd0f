#pragma once
// Reaches an endpoint's tree node and data window through the views of the
// main window that shows it.

#include "app/endpointviews.h"
#include "app/mainwindow.h"
#include "datawindow/datawindow.h"

#include <QApplication>
#include <QPointer>
#include <QTreeWidgetItem>

namespace endpoint_views_test {

// Asks the main window that answered last first: walking the top-level
// widgets passes every widget of the program, too dear once per peer.
template <typename Found>
Found *lookUp(Found *(EndpointViews::*what)(const Endpoint *) const, const Endpoint *e)
{
    static QPointer<MainWindow> last;
    if (last)
        if (Found *found = (last->views().*what)(e))
            return found;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *form = qobject_cast<MainWindow *>(top))
            if (Found *found = (form->views().*what)(e)) {
                last = form;
                return found;
            }
    return nullptr;
}

} // namespace endpoint_views_test

// The data window of a listed endpoint; nullptr once it is removed.
inline DataWindow *windowOf(const Endpoint *endpoint)
{
    return endpoint_views_test::lookUp(&EndpointViews::windowOf, endpoint);
}

// The tree node of a listed endpoint; nullptr once it is removed.
inline QTreeWidgetItem *nodeOf(const Endpoint *endpoint)
{
    return endpoint_views_test::lookUp(&EndpointViews::nodeOf, endpoint);
}
