#include "core/logbudget.h"

#include <utility>

LogBudget::LogBudget(qint64 capacity)
    : capacity_(capacity)
{
}

void LogBudget::setCapacity(qint64 capacity)
{
    capacity_ = capacity;
    trimToCapacity();
}

std::unique_ptr<LogBudget::Account> LogBudget::open(std::function<void(qint64, bool)> trim)
{
    return std::make_unique<Account>(shared_from_this(), std::move(trim));
}

void LogBudget::trimToCapacity()
{
    if (used_ <= capacity_ || trimming_ || active_.empty())
        return;
    trimming_ = true;
    const qint64 target = capacity_ - capacity_ / 16;
    const qint64 before = used_;
    // First the logs nobody looks at, least recently active first, down to
    // nothing; then, only when that was not enough, the log in front and the
    // one just appended to, each keeping its newest entry.
    const Account *newest = active_.back();
    for (const bool sparedTurn : {false, true}) {
        for (auto it = active_.begin(); used_ > target && it != active_.end();) {
            Account *account = *it;
            // Trimming may take the account off the list: step on first.
            ++it;
            const bool spared = account->inFront_ || account == newest;
            if (spared == sparedTurn)
                account->trim_(used_ - target, spared);
        }
    }
    evicted_ += before - used_;
    trimming_ = false;
}

LogBudget::Account::Account(const std::shared_ptr<LogBudget> &budget, std::function<void(qint64, bool)> trim)
    : budget_(budget)
    , trim_(std::move(trim))
{
}

LogBudget::Account::~Account()
{
    keep(0);
}

void LogBudget::Account::keep(qint64 bytes)
{
    const qint64 grown = bytes - kept_;
    kept_ = bytes;
    budget_->used_ += grown;
    if (kept_ == 0) {
        unlink();
        return;
    }
    if (!linked_) {
        link();
    } else if (grown > 0) {
        // More kept: the most recently active log now.
        budget_->active_.splice(budget_->active_.end(), budget_->active_, place_);
    }
    if (grown > 0)
        budget_->trimToCapacity();
}

void LogBudget::Account::link()
{
    if (linked_)
        return;
    place_ = budget_->active_.insert(budget_->active_.end(), this);
    linked_ = true;
}

void LogBudget::Account::unlink()
{
    if (!linked_)
        return;
    budget_->active_.erase(place_);
    linked_ = false;
}
