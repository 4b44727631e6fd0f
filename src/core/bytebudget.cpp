#include "core/bytebudget.h"

#include <QString>

#include <algorithm>

ByteBudget::ByteBudget(qint64 capacity)
    : capacity_(capacity)
{
}

bool ByteBudget::reserve(qint64 bytes)
{
    if (!hasRoom(bytes)) {
        ++refusals_;
        return false;
    }
    used_ += bytes;
    peak_ = std::max(peak_, used_);
    return true;
}

void ByteBudget::release(qint64 bytes)
{
    used_ = std::max<qint64>(0, used_ - bytes);
}

qint64 budgetFromEnvironment(const char *variable, qint64 fallback)
{
    bool ok = false;
    const qint64 megabytes = qEnvironmentVariable(variable).toLongLong(&ok);
    // Beyond a terabyte a figure is a typing error, not a budget.
    if (!ok || megabytes <= 0 || megabytes > 1024 * 1024)
        return fallback;
    return megabytes * 1024 * 1024;
}
