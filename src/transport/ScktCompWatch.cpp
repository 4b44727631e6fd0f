#include "transport/ScktCompWatch.h"

#include "transport/sysutils.h"

#include <QSocketNotifier>

TSocketWatch::TSocketWatch(QObject *parent)
    : QObject(parent)
{
}

void TSocketWatch::apply(QSocketNotifier *&slot, bool forRead, bool enable)
{
    if (slot == nullptr) {
        if (!enable)
            return;
        slot = new QSocketNotifier(forRead ? QSocketNotifier::Read : QSocketNotifier::Write, this);
        slot->setSocket(handle_);
        connect(slot, &QSocketNotifier::activated, this, [this, forRead](QSocketDescriptor socket) {
            Guarded([&] {
                const auto &handler = forRead ? OnReadable : OnWritable;
                if (handler)
                    handler(int(qintptr(socket)));
            });
        });
    }
    if (slot->isEnabled() != enable)
        slot->setEnabled(enable);
}

void TSocketWatch::Watch(int handle, bool read, bool write)
{
    if (handle < 0)
        read = write = false;
    if (handle != handle_) {
        // setSocket() also disables: a notifier is never left enabled on a
        // handle that is about to be closed and reused by another object.
        if (read_)
            read_->setSocket(handle);
        if (write_)
            write_->setSocket(handle);
        handle_ = handle;
    }
    apply(read_, true, read);
    apply(write_, false, write);
}
