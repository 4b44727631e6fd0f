#pragma once
// Tests reach the parts of a window by object name, as a user finds them by
// their caption, rather than through members of the window's class.

#include <QObject>
#include <QtGlobal>

#include <memory>

template <class T> T *child(const QObject *root, const char *name)
{
    T *found = root ? root->findChild<T *>(QLatin1String(name)) : nullptr;
    if (!found)
        qFatal("no %s named \"%s\"", T::staticMetaObject.className(), name);
    return found;
}

template <class T> T *child(const QObject &root, const char *name)
{
    return child<T>(&root, name);
}

template <class T, class Owner> T *child(const std::unique_ptr<Owner> &root, const char *name)
{
    return child<T>(root.get(), name);
}
