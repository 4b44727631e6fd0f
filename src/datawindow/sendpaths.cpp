// The send paths of the data window: the send button with its repeats, the
// one-off send through the endpoint's transport, timed sending and the
// counters reset.

#include "endpoints/endpoint.h"
#include "core/errors.h"
#include "core/hexcodec.h"
#include "core/logtexts.h"
#include "core/wholenumber.h"
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/udpsocket.h"
#include "ui/messages.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <poll.h>

#include <climits>
#include <memory>
#include <set>

namespace {

bool alive(const QPointer<DataWindow> &window)
{
    return window && window->attachedEndpoint;
}

// How long a server's send waits for a peer that takes nothing before the
// rest of that peer's share is given up, so one peer that never reads does
// not hold up the others.
constexpr qint64 PeerStallLimitMs = 3000;
// Longest single wait for a connection to take more, between which the
// event loop runs and stop is looked at.
constexpr int WriteWaitSliceMs = 10;

// Connections with a send under way further up the stack. A send that runs
// while another waits for room (a timer tick, a click, the server window and
// a peer window) must not put its bytes into the middle of the other's.
std::set<const TcpConnection *> &connectionsInUse()
{
    static std::set<const TcpConnection *> inUse;
    return inUse;
}

class ConnectionClaim {
public:
    explicit ConnectionClaim(const TcpConnection *socket)
        : socket_(connectionsInUse().insert(socket).second ? socket : nullptr)
    {
    }
    ~ConnectionClaim()
    {
        if (socket_)
            connectionsInUse().erase(socket_);
    }
    ConnectionClaim(const ConnectionClaim &) = delete;
    ConnectionClaim &operator=(const ConnectionClaim &) = delete;
    [[nodiscard]] bool held() const { return socket_ != nullptr; }

private:
    const TcpConnection *socket_;
};

// One connection's share of a send: how far it got and when it last moved.
struct Outgoing {
    QPointer<TcpConnection> socket;
    qint64 offset = 0;
    bool finished = false;
    QElapsedTimer sinceProgress;
};

void waitUntilWritable(const std::vector<Outgoing> &outgoing)
{
    std::vector<pollfd> handles;
    for (const Outgoing &o : outgoing)
        if (!o.finished && o.socket && o.socket->SocketHandle() != -1)
            handles.push_back(pollfd{o.socket->SocketHandle(), POLLOUT, 0});
    if (!handles.empty())
        ::poll(handles.data(), handles.size(), WriteWaitSliceMs);
}

} // namespace

QByteArray DataWindow::typedBytes() const
{
    const QString text = sendEdit->toPlainText();
    return isHexMode() ? HexTextToBytes(text) : SendBoxBytes(text);
}

bool DataWindow::pauseBetweenSends(int ms)
{
    if (ms <= 0)
        return true;
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, [&] {
        elapsed = true;
        loop.quit();
    });
    // Stop, and the window going away, end the pause at once.
    connect(this, &DataWindow::sendingEnded, &loop, &QEventLoop::quit);
    // Ended by anyone else, or never started, the loop is the application
    // quitting (which ends every event loop, and every new one at once).
    loop.exec();
    return elapsed;
}

DataWindow::RepeatOutcome DataWindow::repeat(
    const QByteArray &data, int count, const std::function<int()> &pauseMs)
{
    const QPointer<DataWindow> self(this);
    ++sendsRunning_;
    const auto done = qScopeGuard([self] {
        if (self)
            --self->sendsRunning_;
    });
    const quint64 generation = stopGeneration_;
    for (int i = 0; i < count; ++i) {
        const SendResult result = sendOnce(data, generation);
        if (!alive(self))
            return RepeatOutcome::WindowGone;
        sentBytes += result.counted;
        if (result.failed)
            return RepeatOutcome::Failed;
        if (repeatsStopped(generation))
            return RepeatOutcome::Stopped;
        if (pauseMs) {
            const bool paused = pauseBetweenSends(std::max(0, pauseMs()));
            if (!alive(self))
                return RepeatOutcome::WindowGone;
            if (!paused || self->repeatsStopped(generation))
                return RepeatOutcome::Stopped;
        }
        QCoreApplication::processEvents();
        if (!alive(self))
            return RepeatOutcome::WindowGone;
        if (self->repeatsStopped(generation))
            return RepeatOutcome::Stopped;
    }
    return RepeatOutcome::Completed;
}

void DataWindow::sendTyped()
{
    const QByteArray data = typedBytes();
    if (data.isEmpty())
        return;
    const QString countText = repeatCountBox->currentText();
    appendLogLine(SendLogLine(TimeText(), data, isHexMode(), countText));
    sendEdit->clear();
    const int count = ParseWholeNumber(countText);
    const QPointer<DataWindow> self(this);
    try {
        if (repeat(data, count, [this] { return ParseWholeNumber(intervalEdit->text()); })
            != RepeatOutcome::WindowGone)
            updateCounters();
    } catch (...) {
        if (alive(self))
            updateCounters();
        throw;
    }
}

qint64 DataWindow::sendToPeer(const QByteArray &data)
{
    return sendOnce(data, stopGeneration_).counted;
}

DataWindow::SendResult DataWindow::sendOnce(const QByteArray &data, quint64 generation)
{
    Endpoint *endpoint = attachedEndpoint;
    if (!endpoint)
        return {};
    const QString &kind = endpoint->kind;
    if (kind == Kinds::TcpClient) {
        if (auto *client = qobject_cast<TcpClient *>(endpoint->transport))
            return sendTcp({client->Connection()}, data, generation, false);
        return {};
    }
    if (kind == Kinds::TcpServerClient)
        return sendTcp({qobject_cast<TcpConnection *>(endpoint->transport)}, data, generation, false);
    if (kind == Kinds::UdpClient) {
        sendDatagram(*endpoint->udpClient, data);
    } else if (kind == Kinds::UdpServer) {
        sendDatagram(*endpoint->udpServer, data);
    } else if (kind == Kinds::UdpGroup) {
        if (!sendGroupDatagram(*endpoint, data))
            return {0, true};
    } else if (kind == Kinds::TcpServer) {
        // A server sends to every peer it holds at this moment.
        auto *server = qobject_cast<TcpServer *>(endpoint->transport);
        if (!server)
            return {};
        std::vector<TcpConnection *> peers;
        TcpListener *listener = server->Connection();
        for (int i = 0; i < listener->ConnectionCount(); ++i)
            if (listener->ConnectionAt(i)->IsConnected())
                peers.push_back(listener->ConnectionAt(i));
        return sendTcp(peers, data, generation, true);
    }
    return {data.size(), false};
}

DataWindow::SendResult DataWindow::sendTcp(const std::vector<TcpConnection *> &connections,
    const QByteArray &data, quint64 generation, bool giveUpOnStall)
{
    const QPointer<DataWindow> self(this);
    const qint64 size = data.size();
    std::vector<Outgoing> outgoing(connections.size());
    std::vector<std::unique_ptr<ConnectionClaim>> claims;
    for (size_t i = 0; i < connections.size(); ++i) {
        outgoing[i].socket = connections[i];
        outgoing[i].sinceProgress.start();
        claims.push_back(std::make_unique<ConnectionClaim>(connections[i]));
        if (!claims.back()->held()) {
            outgoing[i].finished = true;
            noteUnsent(size, size, UnsentReason::ConnectionBusy);
        }
    }
    SendResult result;
    // Each connection takes what it can; whatever it cannot take yet waits
    // for room while the event loop runs, so the window stays usable and a
    // slow connection does not hold up the others in the same pass.
    for (;;) {
        bool pending = false;
        for (Outgoing &o : outgoing) {
            if (o.finished)
                continue;
            if (!o.socket || !o.socket->IsConnected()) {
                o.finished = true;
                if (alive(self))
                    noteUnsent(size - o.offset, size, UnsentReason::ConnectionGone);
                continue;
            }
            const int taken = o.socket->SendBuffer(
                data.constData() + o.offset, int(std::min<qint64>(size - o.offset, INT_MAX)));
            if (!alive(self))
                return result;
            if (taken > 0) {
                o.offset += taken;
                result.counted += taken;
                o.sinceProgress.restart();
            }
            if (o.offset == size) {
                o.finished = true;
            } else if (giveUpOnStall && o.sinceProgress.elapsed() > PeerStallLimitMs) {
                o.finished = true;
                noteUnsent(size - o.offset, size, UnsentReason::PeerNotReading);
            } else {
                pending = true;
            }
        }
        if (!pending)
            return result;
        QCoreApplication::processEvents();
        if (!alive(self))
            return result;
        if (repeatsStopped(generation)) {
            qint64 left = 0;
            for (const Outgoing &o : outgoing)
                if (!o.finished)
                    left += size - o.offset;
            noteUnsent(left, size * qint64(outgoing.size()), UnsentReason::Stopped);
            return result;
        }
        waitUntilWritable(outgoing);
    }
}

void DataWindow::noteUnsent(qint64 unsent, qint64 total, UnsentReason reason)
{
    if (unsent <= 0)
        return;
    QString text;
    if (reason == UnsentReason::ConnectionGone && unsent == total)
        text = QStringLiteral(" 发送失败：连接已断开，数据未发出");
    else if (reason == UnsentReason::ConnectionGone)
        text = QStringLiteral(" 发送失败：连接已断开，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::ConnectionBusy)
        text = QStringLiteral(" 发送失败：上一次发送尚未完成，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::PeerNotReading)
        text = QStringLiteral(" 发送超时：对方未接收数据，%1 字节未发出").arg(unsent);
    else
        text = QStringLiteral(" 发送已停止，%1 字节未发出").arg(unsent);
    appendLogLine(TimeText() + text);
}

void DataWindow::sendDatagram(UdpSocket &udp, const QByteArray &data)
{
    QBuffer stream;
    stream.setData(data);
    stream.open(QIODevice::ReadOnly);
    udp.SendDatagram(stream);
}

bool DataWindow::sendGroupDatagram(Endpoint &group, const QByteArray &data)
{
    group.groupSendAddress.sin_addr.s_addr = inet_addr(group.groupAddress.toLocal8Bit().constData());
    const int sent = dgram::sendto(group.groupSocket, data.constData(), int(data.size()), 0,
        reinterpret_cast<const sockaddr *>(&group.groupSendAddress), 16);
    const int error = dgram::lastError();
    bool ok = true;
    if (error != 0 && error != EWOULDBLOCK) {
        ShowMessage(QString::number(error));
        ok = false;
    }
    if (sent == dgram::CallFailed) {
        ShowMessage(QStringLiteral("send fail"));
        ok = false;
    }
    if (sent != data.size()) {
        ShowMessage(QStringLiteral("Not Send all"));
        ok = false;
    }
    return ok;
}

void DataWindow::startTimedSending()
{
    const int interval = ParseWholeNumber(intervalEdit->text());
    if (interval < 0) {
        ShowMessage(QStringLiteral("定时间隔不能为负数，定时发送保持原状"));
        return;
    }
    if (interval != timerInterval_) {
        timerInterval_ = interval;
        timer->setInterval(interval); // restarts the count from now
    }
    timerOn_ = true;
    applyTimer();
}

void DataWindow::stopTimedSending()
{
    endSending();
}

void DataWindow::endSending()
{
    timerOn_ = false;
    applyTimer();
    // Also ends a repeat in progress, and the pause or wait it is in.
    ++stopGeneration_;
    emit sendingEnded();
}

void DataWindow::applyTimer()
{
    // An interval of 0 leaves the timer on without ticking.
    if (timerOn_ && timerInterval_ > 0) {
        if (!timer->isActive())
            timer->start();
    } else {
        timer->stop();
    }
}

void DataWindow::sendOnTimer()
{
    // A tick while the last one's send still waits for a slow peer is
    // skipped: timed sending goes at the pace the peer takes.
    if (sendsRunning_ > 0)
        return;
    const QByteArray data = typedBytes();
    if (data.isEmpty())
        return;
    const QString countText = repeatCountBox->currentText();
    appendLogLine(TimedSendLogLine(TimeText(), data, isHexMode(), countText));
    const QPointer<DataWindow> self(this);
    // A send that fails ends timed sending: the next tick would only fail
    // again, each time with its message boxes.
    RepeatOutcome outcome = RepeatOutcome::Failed;
    try {
        outcome = repeat(data, ParseWholeNumber(countText), nullptr);
    } catch (...) {
        if (alive(self)) {
            endSending();
            updateCounters();
        }
        throw;
    }
    if (outcome == RepeatOutcome::WindowGone)
        return;
    if (outcome == RepeatOutcome::Failed)
        endSending();
    updateCounters();
}

void DataWindow::resetCounters()
{
    sentBytes = 0;
    receivedBytes = 0;
    updateCounters();
    flushLog();
}
