#include "app/mysocket.h"

#include "core/logtexts.h"

#include <QTreeWidgetItem>

namespace {
constexpr int EndpointRole = Qt::UserRole + 1;

void unlinkPartnerOf(TMySocket &record)
{
    if (record.Link && record.Link->Link == &record)
        record.Link->Link = nullptr;
    record.Link = nullptr;
}
} // namespace

std::unique_ptr<TMySocket> MakeRecord(const QString &kind)
{
    auto record = std::make_unique<TMySocket>();
    record->Kind = kind;
    record->CreateTime = CurrentDateTimeText();
    return record;
}

QString CurrentDateTimeText()
{
    return DateTimeText(QDateTime::currentDateTime());
}

TMySocket *EndpointOf(const QTreeWidgetItem *node)
{
    if (!node)
        return nullptr;
    return reinterpret_cast<TMySocket *>(node->data(0, EndpointRole).value<quintptr>());
}

void SetEndpointOf(QTreeWidgetItem *node, TMySocket *record)
{
    node->setData(0, EndpointRole, QVariant::fromValue(reinterpret_cast<quintptr>(record)));
}

QString NodeText(const QString &address, int port)
{
    return address + QLatin1Char('[') + QString::number(port) + QLatin1Char(']');
}

void TEndpointList::Add(std::unique_ptr<TMySocket> record)
{
    items_.push_back(std::move(record));
}

void TEndpointList::Remove(TMySocket *record)
{
    const int index = IndexOf(record);
    if (index < 0)
        return;
    for (const auto &other : items_)
        if (other->Link == record)
            other->Link = nullptr;
    // Erase before the record dies, so nothing can find it half-destroyed.
    auto owned = std::move(items_[size_t(index)]);
    items_.erase(items_.begin() + index);
}

int TEndpointList::IndexOf(const TMySocket *record) const
{
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == record)
            return int(i);
    return -1;
}

void LinkEndpoints(TMySocket &target, TMySocket &dragged)
{
    unlinkPartnerOf(target);
    unlinkPartnerOf(dragged);
    target.Link = &dragged;
    dragged.Link = &target;
}
