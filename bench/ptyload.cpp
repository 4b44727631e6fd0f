// The far side of a serial endpoint for the benchmarks: a pseudo-terminal
// made here, whose slave the endpoint opens as its device and whose master
// this side writes and reads. No real serial device is ever opened.
//
// The slave is put in raw mode when the pair is made (the settings stay with
// the pair), so that nothing is echoed or changed on the way whoever opens it
// and whenever. This side holds the slave open as well: without an opener
// the master's reads fail with EIO, and the echo device would spin on them.
// Closing the master hangs the slave up (what was written and not yet read is
// lost with it): that is an adapter unplugged.
//
// Times printed are CLOCK_MONOTONIC nanoseconds, comparable with benchapp's.

#include "ptyload.h"

#include "loadcommon.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char **environ;

namespace {

double numOption(int argc, char **argv, const char *name, double fallback)
{
    const char *value = option(argc, argv, name);
    return value ? std::atof(value) : fallback;
}

int pollMs(long long deadline)
{
    return int(std::clamp((deadline - nowNs()) / 1000000LL, 0LL, 100LL));
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

Pty openRawPty()
{
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    Pty pty;
    if (openpty(&pty.master, &pty.slave, name, &raw, nullptr) != 0)
        die("openpty");
    pty.slaveName = name;
    fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    return pty;
}

void closePty(Pty &pty)
{
    close(pty.slave);
    close(pty.master);
    pty = Pty();
}

// The stream every mode writes: byte i is 'A' + (i % 65536) % 26, the TCP
// sender's stream, so the same checks read both.
class Stream {
public:
    Stream()
        : period_(64 * 1024)
    {
        for (size_t i = 0; i < period_.size(); ++i)
            period_[i] = char('A' + i % 26);
    }
    [[nodiscard]] long long written() const { return written_; }
    // Writes up to `upTo` bytes of the stream in all, waiting for room until
    // the deadline when `wait`, else only as far as the master takes them now.
    void writeTo(int fd, long long upTo, long long deadline, bool wait)
    {
        while (written_ < upTo && nowNs() < deadline) {
            const size_t at = size_t(written_ % (long long)period_.size());
            const size_t n = size_t(std::min<long long>(upTo - written_, (long long)(period_.size() - at)));
            const ssize_t got = write(fd, period_.data() + at, n);
            if (got > 0) {
                written_ += got;
                continue;
            }
            if (got < 0 && errno != EAGAIN && errno != EINTR)
                die("write");
            if (!wait)
                return;
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, pollMs(deadline));
        }
    }

private:
    std::vector<char> period_;
    long long written_ = 0;
};

// Lines on standard input are the harness's go-aheads; its end, the end of
// the run.
class Commands {
public:
    // Waits for the next line until the deadline; false at the end of
    // input or the deadline.
    bool next(long long deadline)
    {
        while (lines_ == 0 && !ended_ && nowNs() < deadline)
            take(pollMs(deadline));
        if (lines_ == 0)
            return false;
        --lines_;
        return true;
    }
    // Until the input ends or the deadline.
    void waitForEnd(long long deadline)
    {
        while (!ended_ && nowNs() < deadline)
            take(pollMs(deadline));
    }
    [[nodiscard]] bool ended() const { return ended_; }
    // Takes what came, waiting at most waitMs.
    void take(int waitMs)
    {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1)
            return;
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            ended_ = got == 0 || errno != EINTR;
            return;
        }
        lines_ += std::count(buffer, buffer + got, '\n');
    }

private:
    long long lines_ = 0;
    bool ended_ = false;
};

// `head -c BYTES SLAVE > /dev/null`: a plain reader that ends after the last
// byte (cat would wait on the terminal for ever).
pid_t spawnReader(const std::string &slave, long long bytes)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string count = std::to_string(bytes);
    std::vector<char *> args{const_cast<char *>("head"), const_cast<char *>("-c"),
        const_cast<char *>(count.c_str()), const_cast<char *>(slave.c_str()), nullptr};
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, "head", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        errno = failed;
        die("spawn head");
    }
    return pid;
}

// The reader's exit status, looked for every 100 us (its end is the time
// measured); killed by its PID at the deadline.
int waitForReader(pid_t pid, long long deadline, long long *endNs)
{
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (nowNs() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            *endNs = 0;
            return -1;
        }
        usleep(100);
    }
    *endNs = nowNs();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int ptySend(int argc, char **argv, long long timeoutMs)
{
    const long long bytes = std::atoll(argv[2]);
    const bool plainReader = hasFlag(argc, argv, "--head");
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    Pty pty = openRawPty();
    std::printf("slave=%s\n", pty.slaveName.c_str());
    std::fflush(stdout);
    Commands commands;
    pid_t reader = -1;
    if (plainReader) {
        reader = spawnReader(pty.slaveName, bytes);
        // Its start (a few ms) is not reading: it waits on the empty
        // terminal by the time the first byte goes.
        sleepUntil(nowNs() + 50000000LL);
    } else if (!commands.next(deadline)) {
        std::fprintf(stderr, "loadgen: no go-ahead\n");
        return 1;
    }
    Stream stream;
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    stream.writeTo(pty.master, bytes, deadline, true);
    std::printf("sent=%lld sent_ns=%lld\n", stream.written(), nowNs());
    std::fflush(stdout);
    int readerExit = 0;
    if (plainReader) {
        long long readNs = 0;
        readerExit = waitForReader(reader, deadline, &readNs);
        std::printf("read_ns=%lld reader_exit=%d\n", readNs, readerExit);
    } else {
        // Closing the master now would lose what the endpoint has not read.
        commands.waitForEnd(deadline);
    }
    std::fflush(stdout);
    closePty(pty);
    return stream.written() == bytes && readerExit == 0 ? 0 : 1;
}

int ptyEcho(int, char **, long long timeoutMs)
{
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    Pty pty = openRawPty();
    std::printf("slave=%s\n", pty.slaveName.c_str());
    std::fflush(stdout);
    Commands commands;
    std::string pending;
    long long lines = 0;
    char buffer[4096];
    while (!commands.ended() && nowNs() < deadline) {
        pollfd p[2] = {{pty.master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(p, 2, pollMs(deadline)) <= 0)
            continue;
        if (p[1].revents)
            commands.take(0);
        if (!(p[0].revents & POLLIN))
            continue;
        const ssize_t got = read(pty.master, buffer, sizeof buffer);
        if (got <= 0)
            continue;
        pending.append(buffer, size_t(got));
        // Each whole line goes back as it came, at once.
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            size_t at = 0;
            while (at <= end && nowNs() < deadline) {
                const ssize_t put = write(pty.master, pending.data() + at, end + 1 - at);
                if (put > 0)
                    at += size_t(put);
                else if (put < 0 && errno != EAGAIN && errno != EINTR)
                    die("write");
                else {
                    pollfd out{pty.master, POLLOUT, 0};
                    poll(&out, 1, pollMs(deadline));
                }
            }
            pending.erase(0, end + 1);
            ++lines;
        }
    }
    std::printf("echoed=%lld\n", lines);
    std::fflush(stdout);
    closePty(pty);
    return 0;
}

int ptyFlap(int argc, char **argv, long long timeoutMs)
{
    const std::string link = argv[2];
    const double rate = std::atof(argv[3]) * 1e6; // bytes per second
    const int cycles = std::atoi(argv[4]);
    const long long streamNs = (long long)numOption(argc, argv, "--stream-ms", 1000) * 1000000LL;
    const long long gapNs = (long long)numOption(argc, argv, "--gap-ms", 100) * 1000000LL;
    const long long waitNs = (long long)numOption(argc, argv, "--wait-ms", 5000) * 1000000LL;
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    Commands commands;
    Stream stream;
    Pty pty;
    // The device appears under its name at once: the link is made beside it
    // and renamed over the name.
    const auto plug = [&](int k) {
        pty = openRawPty();
        const std::string fresh = link + ".new";
        unlink(fresh.c_str());
        if (symlink(pty.slaveName.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), link.c_str()) != 0)
            die("symlink");
        std::printf("plugged=%d slave=%s at_ns=%lld\n", k, pty.slaveName.c_str(), nowNs());
        std::fflush(stdout);
    };
    const auto unplug = [&](int k) {
        unlink(link.c_str());
        closePty(pty);
        std::printf("unplugged=%d at_ns=%lld\n", k, nowNs());
        std::fflush(stdout);
    };
    // At the rate on an absolute schedule in 10 ms steps; what the device
    // does not take at once is not written (a device does not wait either).
    const auto streamFor = [&](long long ns) {
        const long long start = nowNs();
        const long long base = stream.written();
        for (long long t = start; t < start + ns && t < deadline; t += 10000000LL) {
            sleepUntil(t);
            const long long due = base + (long long)(double(t + 10000000LL - start) / 1e9 * rate);
            stream.writeTo(pty.master, due, deadline, false);
        }
    };
    plug(0);
    // The endpoint opened the device: the harness says so.
    if (!commands.next(deadline)) {
        std::fprintf(stderr, "loadgen: no go-ahead\n");
        unplug(0);
        return 1;
    }
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    int missed = 0;
    for (int k = 1; k <= cycles && nowNs() < deadline; ++k) {
        streamFor(streamNs);
        unplug(k);
        sleepUntil(nowNs() + gapNs);
        plug(k);
        // The endpoint's log says it opened the device again.
        if (!commands.next(std::min(deadline, nowNs() + waitNs))) {
            ++missed;
            std::printf("missed=%d\n", k);
            std::fflush(stdout);
        }
    }
    streamFor(streamNs);
    std::printf("sent=%lld missed=%d sent_ns=%lld\n", stream.written(), missed, nowNs());
    std::fflush(stdout);
    commands.waitForEnd(deadline);
    unplug(cycles + 1);
    return missed == 0 ? 0 : 1;
}
