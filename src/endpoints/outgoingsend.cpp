#include "endpoints/outgoingsend.h"

#include "core/bytebudget.h"
#include "endpoints/connectionoutbox.h"

#include <utility>

OutgoingSend::OutgoingSend(const SendControl &control, qint64 size, int shares)
    : control_(control)
    , size_(size)
    , shares_(shares)
    , sharesLeft_(shares)
{
}

std::shared_ptr<OutgoingSend> OutgoingSend::make(const SendControl &control, qint64 size, int shares)
{
    return {new OutgoingSend(control, size, shares), [](OutgoingSend *send) {
                if (send->stopping_)
                    send->deleteLater();
                else
                    delete send;
            }};
}

OutgoingSend::~OutgoingSend()
{
    releaseReservation();
}

bool OutgoingSend::reserve(const std::shared_ptr<ByteBudget> &budget)
{
    if (budget && !budget->reserve(size_))
        return false;
    reservedFrom_ = budget;
    return true;
}

void OutgoingSend::releaseReservation()
{
    if (const std::shared_ptr<ByteBudget> budget = std::exchange(reservedFrom_, nullptr))
        budget->release(size_);
}

void OutgoingSend::waitsIn(ConnectionOutbox *outbox)
{
    outboxes_.emplace_back(outbox);
}

void OutgoingSend::shareWritten()
{
    shareOver();
}

void OutgoingSend::shareGivenUp(qint64 left, UnsentReason reason)
{
    control_.noteUnsent(left, size_, reason);
    shareOver();
}

void OutgoingSend::shareOver()
{
    if (sharesLeft_ == 0 || --sharesLeft_ > 0)
        return;
    releaseReservation();
    if (awaited_)
        control_.settled();
}

bool OutgoingSend::await()
{
    if (sharesLeft_ == 0)
        return false;
    awaited_ = true;
    control_.whenStopped(this, [this] { stop(); });
    return sharesLeft_ > 0;
}

void OutgoingSend::stop()
{
    if (sharesLeft_ == 0)
        return;
    const std::shared_ptr<OutgoingSend> keep = shared_from_this();
    stopping_ = true;
    qint64 left = 0;
    for (const QPointer<ConnectionOutbox> &outbox : outboxes_)
        if (outbox)
            left += outbox->withdraw(this);
    sharesLeft_ = 0;
    releaseReservation();
    control_.noteUnsent(left, size_ * qint64(shares_), UnsentReason::Stopped);
    control_.settled();
}
