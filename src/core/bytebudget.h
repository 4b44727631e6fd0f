#pragma once
// An allowance of bytes that many holders draw on: the output waiting on
// every connection of the program shares one, so that a crowd of peers that
// never read holds the program to a total rather than to a bound per peer
// times however many come. A holder reserves before it keeps bytes and
// releases what it wrote or dropped; a reservation that does not fit is
// refused and counted, and the holder refuses the work that asked for it.
//
// Ownership and threading: a plain value shared (std::shared_ptr) by its
// owner and by every holder that reserved from it, so that a holder going
// last still has it to release into. UI thread only.

#include <QtGlobal>

class ByteBudget {
public:
    explicit ByteBudget(qint64 capacity);

    [[nodiscard]] qint64 capacity() const { return capacity_; }
    // A smaller capacity refuses from now on; what is reserved stays.
    void setCapacity(qint64 capacity) { capacity_ = capacity; }
    [[nodiscard]] qint64 used() const { return used_; }
    // The most that was reserved at once.
    [[nodiscard]] qint64 peak() const { return peak_; }
    // Reservations refused so far.
    [[nodiscard]] qint64 refusals() const { return refusals_; }

    // Whether `bytes` more would fit.
    [[nodiscard]] bool hasRoom(qint64 bytes) const { return used_ + bytes <= capacity_; }
    // Takes `bytes` when they fit; false (counted) when they do not.
    [[nodiscard]] bool reserve(qint64 bytes);
    // Counts work refused on a look at hasRoom alone.
    void noteRefused() { ++refusals_; }
    void release(qint64 bytes);

private:
    qint64 capacity_;
    qint64 used_ = 0;
    qint64 peak_ = 0;
    qint64 refusals_ = 0;
};

// What the program's budgets hold unless told otherwise: sized for a desktop.
constexpr qint64 DefaultBudgetBytes = 256 * 1024 * 1024;

// The capacity the environment variable names in megabytes (a whole number
// above zero), or `fallback` when it is unset or not such a number.
[[nodiscard]] qint64 budgetFromEnvironment(const char *variable, qint64 fallback = DefaultBudgetBytes);
