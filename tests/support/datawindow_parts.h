#pragma once
// A data window builds its widgets when it first comes to the front. A test
// that looks up a part of one nobody has brought there builds it first, as
// bringing it to the front would; what the parts show is the same either way.

#include "datawindow/datawindow.h"
#include "session/endpointsession.h"
#include "widgets.h"

#include <QPointer>
#include <QTest>
#include <QTimer>

template <class T> T *child(DataWindow *window, const char *name)
{
    if (window)
        window->build();
    return child<T>(static_cast<const QObject *>(window), name);
}

template <class T> T *child(const QPointer<DataWindow> &window, const char *name)
{
    return child<T>(window.data(), name);
}

template <class T> T *child(DataWindow &window, const char *name)
{
    return child<T>(&window, name);
}

// The timer of timed sending: it belongs to the window's session, which an
// endpoint's window does not own, and is made with the session's sender.
inline QTimer *timedSendingTimer(const DataWindow *window)
{
    return child<QTimer>(static_cast<const QObject *>(&window->session()->sender()), "timer");
}

inline QTimer *timedSendingTimer(const DataWindow &window)
{
    return timedSendingTimer(&window);
}

// Runs the event loop until the window's repeats (the send button's, the
// timer's) have ended or the window is gone: a send returns at once and goes
// on from the event loop. False when they still run after timeoutMs.
inline bool waitForRepeatsToEnd(DataWindow *window, int timeoutMs = 30000)
{
    const QPointer<DataWindow> w(window);
    return QTest::qWaitFor([&] { return !w || !w->session() || !w->session()->isRepeating(); }, timeoutMs);
}
