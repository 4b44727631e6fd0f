// Load generator and plain baselines for the benchmarks. Loopback only: every
// address is 127.0.0.1. Every mode ends by itself: counts are fixed and each
// wait has a deadline (--timeout-ms, default 60 s).
//
// Times printed are CLOCK_MONOTONIC nanoseconds, comparable with benchapp's.
//
//   tcp-send PORT BYTES [--rate MBps] [--delay-ms D] [--shutdown]
//                                               (byte i of the stream is 'A' + (i % 65536) % 26)
//   udp-send PORT COUNT SIZE [--rate per-second]
//   tcp-connect PORT COUNT [--hold-ms H] [--say-port] [--close-first K --close-after-ms T]
//               [--until-closed]
//                                               (--say-port: each connection sends
//                                               "port=<its local port>\n" once;
//                                               --close-first: the first K close after T;
//                                               --until-closed: the hold ends early once
//                                               the far side has closed every connection)
//   udp-sink PORT COUNT [--quiet-ms Q]          (plain recvfrom loop)
//   accept-sink PORT COUNT                      (plain accept loop)
//   udp-timing PORT COUNT                       (arrival intervals)
//   timer-send PORT INTERVAL_MS TICKS           (absolute-schedule sender)
//   udp-ask PORT COUNT [--rate per-second] [--quiet-ms Q]
//                                               (sends "req <n>" datagrams and checks
//                                               that "ack <n>" comes back for each, in order;
//                                               ascending: replies numbered above all before)
//   tcp-stall PORT COUNT [--rcvbuf B] [--mss M] [--say TEXT] [--hold-ms H] [--until-eof]
//                                               (COUNT connections with a receive buffer
//                                               of B bytes and a segment size of M (0: the
//                                               loopback's), each sends TEXT once and never
//                                               reads; held for H ms, or until stdin ends
//                                               with --until-eof, then closed)
//   tcp-crowd PORT COUNT [--asks N --ask-ms A] [--read-bytes R --read-ms P]
//             [--send-bytes B] [--mss M] [--until-eof] [--hold-ms H]
//                                               (COUNT connections, each: "q" N times A ms
//                                               apart, reading at most R bytes every P ms
//                                               (0: never), or B bytes of the stream
//                                               above sent as fast as taken; prints
//                                               "done" once all is said, then holds
//                                               them open for H ms or until stdin ends)
//
// A pseudo-terminal's master (ptyload.cpp); each prints "slave=<path>" first:
//   pty-send BYTES [--head]                     (the stream above into the master once a line
//                                               comes on stdin, held until stdin ends;
//                                               --head: read by `head -c BYTES` from the
//                                               slave, started 50 ms before the first byte,
//                                               whose exit is read_ns)
//   pty-echo                                    (each line read from the master written back,
//                                               until stdin ends)
//   pty-flap LINK RATE_MBps CYCLES [--stream-ms T] [--gap-ms G] [--wait-ms W]
//                                               (LINK a symlink to the slave; after a line on
//                                               stdin: CYCLES times the stream at RATE for T ms,
//                                               the master closed and LINK removed, G ms later
//                                               a new pair under LINK, then up to W ms for
//                                               the next line; the stream for T ms once more,
//                                               held until stdin ends)

#include "loadcommon.h"
#include "ptyload.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

long long timeoutMs = 60000;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

double numOption(int argc, char **argv, const char *name, double fallback)
{
    const char *v = option(argc, argv, name);
    return v ? std::atof(v) : fallback;
}

// Connects to the port, retrying while nobody listens yet (a listener that is
// still starting), until the deadline.
int connectRetrying(int port, long long deadline)
{
    const sockaddr_in a = loopback(port);
    while (nowNs() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            die("socket");
        if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0)
            return fd;
        close(fd);
        usleep(20000);
    }
    errno = ETIMEDOUT;
    die("connect");
}

// Printable payload without line breaks, so a text-mode log line stays one line.
std::vector<char> payload(size_t size)
{
    std::vector<char> p(size);
    for (size_t i = 0; i < size; ++i)
        p[i] = char('A' + i % 26);
    return p;
}

int tcpSend(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long bytes = std::atoll(argv[3]);
    const double rate = numOption(argc, argv, "--rate", 0) * 1e6; // bytes per second
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    const int fd = connectRetrying(port, deadline);
    usleep(useconds_t(numOption(argc, argv, "--delay-ms", 0) * 1000));
    const std::vector<char> chunk = payload(64 * 1024);
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    long long sent = 0;
    while (sent < bytes && nowNs() < deadline) {
        if (rate > 0)
            sleepUntil(start + (long long)(double(sent) / rate * 1e9));
        // From where the last send stopped, so that the stream is the
        // payload repeated whatever a send took: a receiver can check it
        // byte for byte (byte i is payload[i % 64 Ki]).
        const size_t at = size_t(sent % (long long)chunk.size());
        const size_t n = size_t(std::min<long long>(bytes - sent, (long long)(chunk.size() - at)));
        const ssize_t got = send(fd, chunk.data() + at, n, MSG_NOSIGNAL);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            die("send");
        }
        sent += got;
    }
    std::printf("sent=%lld sent_ns=%lld\n", sent, nowNs());
    std::fflush(stdout);
    if (hasFlag(argc, argv, "--shutdown"))
        shutdown(fd, SHUT_WR);
    // Hold the connection until the far side closes it (or the deadline):
    // an early close would end the receiving endpoint before it is measured.
    char sink[4096];
    while (nowNs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) == 1 && recv(fd, sink, sizeof sink, 0) <= 0)
            break;
    }
    close(fd);
    return sent == bytes ? 0 : 1;
}

int udpSend(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long count = std::atoll(argv[3]);
    const size_t size = size_t(std::atoi(argv[4]));
    const double rate = numOption(argc, argv, "--rate", 0);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        die("socket");
    const sockaddr_in a = loopback(port);
    const std::vector<char> p = payload(size);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    long long sent = 0;
    for (long long i = 0; i < count && nowNs() < deadline; ++i) {
        if (rate > 0 && i % 16 == 0)
            sleepUntil(start + (long long)(double(i) / rate * 1e9));
        if (sendto(fd, p.data(), size, 0, reinterpret_cast<const sockaddr *>(&a), sizeof a) >= 0)
            ++sent;
    }
    std::printf("sent=%lld sent_ns=%lld\n", sent, nowNs());
    close(fd);
    return 0;
}

int tcpConnect(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const long long holdMs = (long long)numOption(argc, argv, "--hold-ms", 1000);
    const bool sayPort = hasFlag(argc, argv, "--say-port");
    const int closeFirst = int(numOption(argc, argv, "--close-first", 0));
    const long long closeAfterMs = (long long)numOption(argc, argv, "--close-after-ms", 0);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    const sockaddr_in a = loopback(port);
    std::vector<pollfd> fds;
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            die("socket");
        if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS)
            die("connect");
        fds.push_back({fd, POLLOUT, 0});
    }
    int connected = 0;
    std::vector<bool> done(fds.size());
    while (connected < count && nowNs() < deadline) {
        poll(fds.data(), fds.size(), 100);
        for (size_t i = 0; i < fds.size(); ++i)
            if (!done[i] && (fds[i].revents & (POLLOUT | POLLERR | POLLHUP))) {
                done[i] = true;
                fds[i].events = 0;
                int err = 0;
                socklen_t len = sizeof err;
                getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0)
                    ++connected;
            }
        if (std::count(done.begin(), done.end(), true) == count)
            break;
    }
    std::printf("connected=%d connected_ns=%lld\n", connected, nowNs());
    std::fflush(stdout);
    if (sayPort)
        for (const pollfd &p : fds) {
            sockaddr_in own{};
            socklen_t len = sizeof own;
            getsockname(p.fd, reinterpret_cast<sockaddr *>(&own), &len);
            const std::string line = "port=" + std::to_string(ntohs(own.sin_port)) + "\n";
            (void)send(p.fd, line.data(), line.size(), MSG_NOSIGNAL);
        }
    if (closeFirst > 0) {
        sleepUntil(std::min(deadline, start + closeAfterMs * 1000000LL));
        for (int i = 0; i < closeFirst && i < int(fds.size()); ++i) {
            close(fds[size_t(i)].fd);
            fds[size_t(i)].fd = -1;
        }
        std::printf("closed=%d closed_ns=%lld\n", closeFirst, nowNs());
        std::fflush(stdout);
    }
    const long long holdEnd = std::min(deadline, nowNs() + holdMs * 1000000LL);
    if (hasFlag(argc, argv, "--until-closed")) {
        // A server that was stopped has closed them all: nothing is left to
        // hold, and waiting out the hold would only make the run longer.
        size_t open
            = size_t(std::count_if(fds.begin(), fds.end(), [](const pollfd &p) { return p.fd >= 0; }));
        for (pollfd &p : fds)
            p.events = POLLIN;
        char sink[4096];
        while (open > 0 && nowNs() < holdEnd) {
            if (poll(fds.data(), fds.size(), 100) <= 0)
                continue;
            for (pollfd &p : fds) {
                if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t got = recv(p.fd, sink, sizeof sink, 0);
                if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
                    continue;
                close(p.fd);
                p.fd = -1;
                --open;
            }
        }
        std::printf("closed_by_peer_ns=%lld open=%zu\n", nowNs(), open);
        std::fflush(stdout);
    } else {
        sleepUntil(holdEnd);
    }
    for (const pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    return connected == count ? 0 : 1;
}

int udpSink(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long count = std::atoll(argv[3]);
    const long long quietMs = (long long)numOption(argc, argv, "--quiet-ms", 1500);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        die("bind");
    std::printf("READY\n");
    std::fflush(stdout);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    long long got = 0;
    long long last = nowNs();
    char buffer[65536];
    while (got < count && nowNs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) == 1) {
            if (recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr) >= 0) {
                ++got;
                last = nowNs();
            }
        } else if (got > 0 && nowNs() - last > quietMs * 1000000LL)
            break;
    }
    std::printf("RESULT end_ns=%lld datagrams=%lld\n", last, got);
    close(fd);
    return 0;
}

int acceptSink(int, char **argv)
{
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0
        || listen(fd, SOMAXCONN) != 0)
        die("listen");
    std::printf("READY\n");
    std::fflush(stdout);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    std::vector<int> peers;
    while (int(peers.size()) < count && nowNs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        const int peer = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer >= 0)
            peers.push_back(peer);
    }
    std::printf("RESULT end_ns=%lld peers=%zu\n", nowNs(), peers.size());
    std::fflush(stdout);
    for (int peer : peers)
        close(peer);
    close(fd);
    return 0;
}

int udpTiming(int, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long count = std::atoll(argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        die("bind");
    std::printf("READY\n");
    std::fflush(stdout);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    std::vector<long long> arrivals;
    char buffer[65536];
    while ((long long)arrivals.size() < count && nowNs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) == 1 && recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr) >= 0)
            arrivals.push_back(nowNs());
    }
    std::vector<double> gaps;
    for (size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(double(arrivals[i] - arrivals[i - 1]) / 1e6);
    double mean = 0;
    for (double g : gaps)
        mean += g;
    mean = gaps.empty() ? 0 : mean / double(gaps.size());
    std::sort(gaps.begin(), gaps.end());
    const double p99 = gaps.empty() ? 0 : gaps[std::min(gaps.size() - 1, size_t(0.99 * double(gaps.size())))];
    const double p1 = gaps.empty() ? 0 : gaps[size_t(0.01 * double(gaps.size()))];
    std::printf("RESULT ticks=%zu mean_ms=%.4f p99_ms=%.3f p1_ms=%.3f max_ms=%.3f\n", arrivals.size(), mean,
        p99, p1, gaps.empty() ? 0 : gaps.back());
    close(fd);
    return 0;
}

int timerSend(int, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long intervalNs = std::atoll(argv[3]) * 1000000LL;
    const int ticks = std::atoi(argv[4]);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        die("socket");
    const sockaddr_in a = loopback(port);
    const long long start = nowNs();
    for (int i = 1; i <= ticks; ++i) {
        sleepUntil(start + i * intervalNs);
        sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr *>(&a), sizeof a);
    }
    close(fd);
    return 0;
}

int udpAsk(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const long long count = std::atoll(argv[3]);
    const double rate = numOption(argc, argv, "--rate", 0);
    const long long quietNs = (long long)numOption(argc, argv, "--quiet-ms", 2000) * 1000000LL;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        die("socket");
    int queue = 8 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
    const sockaddr_in a = loopback(port);
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    long long sent = 0, replies = 0, inOrder = 0, expected = 0, lastReply = start;
    // Replies whose number is above every earlier one: with requests lost
    // on the way the exact order breaks at the first gap, while these still
    // tell a gap (lost) from a reply that came out of turn.
    long long ascending = 0, highest = -1;
    char buf[2048];
    const auto drain = [&] {
        for (;;) {
            const ssize_t got = recv(fd, buf, sizeof buf - 1, 0);
            if (got < 0)
                return;
            buf[got] = 0;
            ++replies;
            lastReply = nowNs();
            char want[64];
            std::snprintf(want, sizeof want, "ack %lld", expected);
            if (std::strcmp(buf, want) == 0)
                ++inOrder;
            ++expected;
            long long number = -1;
            if (std::sscanf(buf, "ack %lld", &number) == 1 && number > highest) {
                ++ascending;
                highest = number;
            }
        }
    };
    while (sent < count && nowNs() < deadline) {
        if (rate > 0 && sent % 16 == 0)
            sleepUntil(start + (long long)(double(sent) / rate * 1e9));
        char req[64];
        const int n = std::snprintf(req, sizeof req, "req %lld", sent);
        if (sendto(fd, req, size_t(n), 0, reinterpret_cast<const sockaddr *>(&a), sizeof a) >= 0)
            ++sent;
        drain();
    }
    const long long sentNs = nowNs();
    while (replies < sent && nowNs() < deadline && nowNs() - std::max(lastReply, sentNs) < quietNs) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 20);
        drain();
    }
    std::printf("sent=%lld replies=%lld in_order=%lld ascending=%lld sent_ns=%lld end_ns=%lld\n", sent,
        replies, inOrder, ascending, sentNs, nowNs());
    close(fd);
    return replies == sent && inOrder == sent ? 0 : 1;
}

// Peers that never read: each asks once and leaves whatever comes back in a
// receive buffer kept small, so the far side's answers stall.
int tcpStall(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const int rcvbuf = int(numOption(argc, argv, "--rcvbuf", 1024));
    // The far side sizes its send buffer by the segment size announced here.
    // The loopback's 64 KB segments let it grow to megabytes per connection,
    // so thousands of stalled peers would hold gigabytes of the machine's
    // TCP memory; an Ethernet-sized segment keeps it to tens of KB each.
    const int mss = int(numOption(argc, argv, "--mss", 1460));
    const char *sayOption = option(argc, argv, "--say");
    const std::string say = sayOption ? sayOption : "q";
    const long long holdMs = (long long)numOption(argc, argv, "--hold-ms", 30000);
    const bool untilEof = hasFlag(argc, argv, "--until-eof");
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    // Two thousand connections need more descriptors than the usual soft
    // limit of 1024 allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    const sockaddr_in a = loopback(port);
    std::vector<pollfd> fds;
    const long long start = nowNs();
    std::printf("start_ns=%lld\n", start);
    std::fflush(stdout);
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            die("socket");
        // Before connect: the window offered in the handshake follows it.
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf) != 0)
            die("SO_RCVBUF");
        if (mss > 0 && setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, sizeof mss) != 0)
            die("TCP_MAXSEG");
        if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS)
            die("connect");
        fds.push_back({fd, POLLOUT, 0});
    }
    int connected = 0;
    int said = 0;
    int pending = count;
    while (pending > 0 && nowNs() < deadline) {
        poll(fds.data(), fds.size(), 100);
        for (pollfd &p : fds) {
            if (p.events == 0 || !(p.revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            p.events = 0;
            --pending;
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0)
                continue;
            ++connected;
            if (send(p.fd, say.data(), say.size(), MSG_NOSIGNAL) == ssize_t(say.size()))
                ++said;
        }
    }
    std::printf("connected=%d said=%d connected_ns=%lld\n", connected, said, nowNs());
    std::fflush(stdout);
    const long long holdEnd = std::min(deadline, nowNs() + holdMs * 1000000LL);
    if (untilEof) {
        // Whoever started us closes our stdin once it is done with the peers.
        char sink[256];
        while (nowNs() < holdEnd) {
            pollfd in{STDIN_FILENO, POLLIN, 0};
            const int wait = int(std::max(1LL, std::min(100LL, (holdEnd - nowNs()) / 1000000LL)));
            if (poll(&in, 1, wait) == 1 && read(STDIN_FILENO, sink, sizeof sink) <= 0)
                break;
        }
    } else {
        sleepUntil(holdEnd);
    }
    // What reached the peers and was left unread (the answers that stalled).
    long long unread = 0;
    for (const pollfd &p : fds) {
        int queued = 0;
        if (ioctl(p.fd, SIOCINQ, &queued) == 0)
            unread += queued;
        close(p.fd);
    }
    std::printf("closed=%zu unread_bytes=%lld closed_ns=%lld\n", fds.size(), unread, nowNs());
    std::fflush(stdout);
    return connected == count && said == count ? 0 : 1;
}

// A crowd of clients that each ask or send and read slowly, all from one
// poll loop: the peers of the program's memory budgets.
int tcpCrowd(int argc, char **argv)
{
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const int asks = int(numOption(argc, argv, "--asks", 0));
    const long long askNs = (long long)numOption(argc, argv, "--ask-ms", 120) * 1000000LL;
    const long long readBytes = (long long)numOption(argc, argv, "--read-bytes", 0);
    const long long readNs = (long long)numOption(argc, argv, "--read-ms", 800) * 1000000LL;
    const long long sendBytes = (long long)numOption(argc, argv, "--send-bytes", 0);
    // As tcp-stall: small segments keep the kernel's buffers for a
    // thousand connections to what a desktop has.
    const int mss = int(numOption(argc, argv, "--mss", 1460));
    const long long holdMs = (long long)numOption(argc, argv, "--hold-ms", 30000);
    const bool untilEof = hasFlag(argc, argv, "--until-eof");
    const long long deadline = nowNs() + timeoutMs * 1000000LL;
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    struct Client {
        int fd;
        int asked = 0;
        long long sent = 0;
    };
    std::vector<Client> clients;
    const sockaddr_in a = loopback(port);
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            die("socket");
        if (mss > 0 && setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, sizeof mss) != 0)
            die("TCP_MAXSEG");
        if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
            die("connect");
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        clients.push_back({fd});
    }
    const long long start = nowNs();
    std::printf("start_ns=%lld connected=%d\n", start, count);
    std::fflush(stdout);
    const std::vector<char> stream = payload(65536);
    std::vector<char> buffer(65536);
    long long nextAsk = start;
    long long nextRead = start + readNs;
    long long readTotal = 0;
    long long sentTotal = 0;
    int askRounds = 0;
    bool done = false;
    long long holdEnd = deadline;
    for (;;) {
        const long long now = nowNs();
        if (now >= deadline || (done && now >= holdEnd))
            break;
        if (askRounds < asks && now >= nextAsk) {
            for (Client &c : clients)
                if (send(c.fd, "q", 1, MSG_NOSIGNAL) == 1)
                    ++c.asked;
            ++askRounds;
            nextAsk += askNs;
        }
        if (readBytes > 0 && now >= nextRead) {
            for (Client &c : clients) {
                for (long long got = 0; got < readBytes;) {
                    const ssize_t n
                        = recv(c.fd, buffer.data(), size_t(std::min<long long>(readBytes - got, 65536)), 0);
                    if (n <= 0)
                        break;
                    got += n;
                    readTotal += n;
                }
            }
            nextRead += readNs;
        }
        bool sending = false;
        for (Client &c : clients) {
            while (c.sent < sendBytes) {
                const size_t at = size_t(c.sent % 65536);
                const size_t piece = size_t(std::min<long long>(sendBytes - c.sent, (long long)(65536 - at)));
                const ssize_t n = send(c.fd, stream.data() + at, piece, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                c.sent += n;
                sentTotal += n;
            }
            sending = sending || c.sent < sendBytes;
        }
        if (!done && askRounds >= asks && !sending) {
            done = true;
            holdEnd = std::min(deadline, now + holdMs * 1000000LL);
            std::printf("done asked_rounds=%d sent_bytes=%lld done_ns=%lld\n", askRounds, sentTotal, now);
            std::fflush(stdout);
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (untilEof && done) {
            char sink[256];
            if (poll(&in, 1, 20) == 1 && read(STDIN_FILENO, sink, sizeof sink) <= 0)
                break;
        } else {
            usleep(sending ? 1000 : 5000);
        }
    }
    for (const Client &c : clients)
        close(c.fd);
    std::printf("closed=%zu read_bytes=%lld sent_bytes=%lld closed_ns=%lld\n", clients.size(), readTotal,
        sentTotal, nowNs());
    std::fflush(stdout);
    return done ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: see the head of loadgen.cpp\n");
        return 2;
    }
    timeoutMs = (long long)numOption(argc, argv, "--timeout-ms", 60000);
    const std::string mode = argv[1];
    if (mode == "tcp-send" && argc >= 4)
        return tcpSend(argc, argv);
    if (mode == "udp-send" && argc >= 5)
        return udpSend(argc, argv);
    if (mode == "tcp-connect" && argc >= 4)
        return tcpConnect(argc, argv);
    if (mode == "udp-sink" && argc >= 4)
        return udpSink(argc, argv);
    if (mode == "accept-sink" && argc >= 4)
        return acceptSink(argc, argv);
    if (mode == "udp-timing" && argc >= 4)
        return udpTiming(argc, argv);
    if (mode == "timer-send" && argc >= 5)
        return timerSend(argc, argv);
    if (mode == "udp-ask" && argc >= 4)
        return udpAsk(argc, argv);
    if (mode == "tcp-stall" && argc >= 4)
        return tcpStall(argc, argv);
    if (mode == "tcp-crowd" && argc >= 4)
        return tcpCrowd(argc, argv);
    if (mode == "pty-send" && argc >= 3)
        return ptySend(argc, argv, timeoutMs);
    if (mode == "pty-echo")
        return ptyEcho(argc, argv, timeoutMs);
    if (mode == "pty-flap" && argc >= 5)
        return ptyFlap(argc, argv, timeoutMs);
    std::fprintf(stderr, "loadgen: bad arguments\n");
    return 2;
}
