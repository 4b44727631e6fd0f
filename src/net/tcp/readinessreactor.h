#pragma once
// One epoll set for every TCP handle of the UI thread, which the event loop
// watches through a single notifier. A notifier per handle costs the loop a
// walk over all the handles it watches each time one is added or removed,
// and a poll of every handle on every pass; with ten thousand peers both
// dominate. Here adding, changing and removing a watch is one epoll_ctl, and
// a pass costs what the ready handles cost.
//
// Level-triggered, like the notifiers it replaces: a handle stays reported
// while it is ready and watched. Each registration has its own key, so a
// report that comes after its watch moved to another handle, or went, is
// dropped rather than delivered to the wrong one.
//
// Ownership and threading: made on first use as a child of the application
// object and gone with it; UI thread only. Watches are not owned.

#include <QObject>

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class QSocketNotifier;
class QTimer;

class ReadinessReactor : public QObject {
    Q_OBJECT

public:
    // (read ready, write ready), called for a watched handle that is ready
    // for what it is watched for.
    using ReadyHandler = std::function<void(bool readable, bool writable)>;

    // The thread's reactor; nullptr when there is no application object.
    static ReadinessReactor *instance();

    ReadinessReactor();
    ~ReadinessReactor() override;

    // Watches handle for reading and/or writing under key (0: none yet; set
    // here). Neither, or handle -1, stops watching and clears key.
    void watch(std::uint64_t &key, int handle, bool read, bool write, ReadyHandler ready);
    void forget(std::uint64_t &key);

    // Reports taken from the set per wake-up at most; the rest come on the
    // next pass of the loop.
    static constexpr int MaxReportsPerWakeUp = 512;
    // Handlers' time per wake-up at most (a costly reply rule, a large piece
    // logged, ... for each of hundreds of ready peers); the reports not yet
    // served go first on the next pass, after the window's own events.
    static constexpr int WakeUpBudgetMs = 10;

private:
    struct Entry {
        int handle;
        std::uint32_t events;
        ReadyHandler ready;
    };
    struct Report {
        std::uint64_t key;
        std::uint32_t events;
    };
    void dispatch();
    void serve(const Report &report);

    int set_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::uint64_t nextKey_ = 0;
    // Reports of an earlier wake-up whose handlers did not run yet.
    std::vector<Report> deferred_;
    QTimer *continuation_ = nullptr;
};
