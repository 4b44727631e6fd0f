#pragma once
// A pseudo-terminal pair for serial tests: the master is the far end of the
// line, the slave a second handle on the terminal the component under test
// opens by path, for reading the attributes it set. Both non-blocking.

#include <QElapsedTimer>
#include <QTest>

#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

struct Pty {
    int master = -1;
    int slave = -1;
    QString path;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        path = QString::fromLocal8Bit(ptsname(master));
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    [[nodiscard]] termios2 attributes() const
    {
        termios2 t{};
        if (ioctl(slave, TCGETS2, &t) != 0)
            qFatal("TCGETS2 failed");
        return t;
    }
    void setAttributes(const termios2 &t) const
    {
        if (ioctl(slave, TCSETS2, &t) != 0)
            qFatal("TCSETS2 failed");
    }
    void send(const QByteArray &bytes) const
    {
        QCOMPARE_EQ(::write(master, bytes.data(), bytes.size()), bytes.size());
    }
    // Everything the far end has received within the wait.
    [[nodiscard]] QByteArray receive(int expected, int waitMs = 5000) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < expected && clock.elapsed() < waitMs) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
            else
                QTest::qWait(5);
        }
        return got;
    }
};
