#pragma once
// A test that guards against cost growing faster than the work measures the
// same work at two sizes and compares the two, never against a fixed number of
// milliseconds: the sanitizers stretch both sizes alike but break any
// absolute bound. What is measured is the processor time the process spent,
// which other processes on a busy machine do not add to the way they add to
// the time on the clock; a run that still caught some (a cold cache, a page
// fault) is slower, so the fastest of a few runs is the figure nearest the
// work's own cost.

#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>
#include <ctime>
#include <limits>

namespace growth_test {

// Nanoseconds of processor time (all threads, user and system) the work took.
template <class Work> qint64 cpuNs(Work work)
{
    const auto now = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    const qint64 before = now();
    work();
    return now() - before;
}

struct Fastest {
    qint64 atN = std::numeric_limits<qint64>::max();
    qint64 atTwiceN = std::numeric_limits<qint64>::max();
};

// The fastest of the runs of measureNs(false), the work at size N, and of
// measureNs(true), the work at 2N, each returning nanoseconds. The sizes take
// turns so that a spell of disturbance falls on both alike; the last run is
// at 2N. Seven turns at most, and no new one after the third once ten seconds
// have gone: work that grows with the square of its size would take minutes.
template <class Measure> Fastest fastestAtNAndTwiceN(Measure measureNs)
{
    Fastest fastest;
    QElapsedTimer spent;
    spent.start();
    for (int turn = 0; turn < 7 && (turn < 3 || spent.elapsed() < 10000); ++turn) {
        fastest.atN = std::min(fastest.atN, qint64(measureNs(false)));
        fastest.atTwiceN = std::min(fastest.atTwiceN, qint64(measureNs(true)));
    }
    return fastest;
}

} // namespace growth_test
