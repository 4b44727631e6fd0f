#pragma once
// What every log of the program keeps, held to one total. Each log (a data
// window's feed and view, shown or not) has an account here and tells it
// what it keeps; past the total, the logs that were least recently active
// give up their oldest entries first, and the log in front gives up its own
// only after every other log is empty, and keeps its newest entry. A log's
// own caps still hold as well: the total is what a thousand peers' logs are
// held to together.
//
//   least recently active                          most recently active
//   [log A] -> [log B] -> ... -> [log in front] -> ... -> [log appended to]
//      ^ evicted from first                 (passed over until the rest are empty)
//
// Eviction goes in chunks: past the total, logs are trimmed until a
// sixteenth of it is free, so a flood pays for one trim a chunk, not one per
// entry; a log with nothing kept leaves the list, so no trim walks over the
// thousand idle ones.
//
// Ownership and threading: shared (std::shared_ptr) by its owner and by
// every account, which refers to it; an account belongs to its log. UI
// thread only.

#include <QtGlobal>

#include <functional>
#include <list>
#include <memory>

class LogBudget : public std::enable_shared_from_this<LogBudget> {
public:
    class Account;

    explicit LogBudget(qint64 capacity);
    LogBudget(const LogBudget &) = delete;
    LogBudget &operator=(const LogBudget &) = delete;

    [[nodiscard]] qint64 capacity() const { return capacity_; }
    // Trims at once when what is kept is past the new capacity.
    void setCapacity(qint64 capacity);
    [[nodiscard]] qint64 used() const { return used_; }
    // Bytes the logs gave up to the total so far.
    [[nodiscard]] qint64 evicted() const { return evicted_; }

    // An account for one log. `trim(bytes, keepNewest)` drops that log's
    // oldest entries, at least `bytes` of them where it holds that many
    // (its newest one kept when asked), and tells the account.
    [[nodiscard]] std::unique_ptr<Account> open(std::function<void(qint64 bytes, bool keepNewest)> trim);

private:
    friend class Account;
    void trimToCapacity();

    qint64 capacity_;
    qint64 used_ = 0;
    qint64 evicted_ = 0;
    bool trimming_ = false;
    // Accounts that keep something, least recently active first.
    std::list<Account *> active_;
};

class LogBudget::Account {
public:
    Account(const std::shared_ptr<LogBudget> &budget, std::function<void(qint64, bool)> trim);
    ~Account();
    Account(const Account &) = delete;
    Account &operator=(const Account &) = delete;

    // The log keeps this many bytes now. More than before makes it the most
    // recently active log, and may trim the others (or, when nothing else is
    // left, its own oldest).
    void keep(qint64 bytes);
    [[nodiscard]] qint64 kept() const { return kept_; }
    // The log in front is trimmed last, and keeps its newest entry.
    void setInFront(bool inFront) { inFront_ = inFront; }
    [[nodiscard]] bool isInFront() const { return inFront_; }

private:
    friend class LogBudget;
    void link();
    void unlink();

    std::shared_ptr<LogBudget> budget_;
    std::function<void(qint64, bool)> trim_;
    qint64 kept_ = 0;
    bool inFront_ = false;
    bool linked_ = false;
    std::list<Account *>::iterator place_;
};
