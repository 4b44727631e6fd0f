// The send paths of the data window: the send button with its repeats, the
// one-off send through the endpoint's transport, timed sending and the
// counters reset.

#include "app/mysocket.h"
#include "datapanel/countbox.h"
#include "datapanel/datapanel.h"
#include "datapanel/hexcodec.h"
#include "datapanel/logformat.h"
#include "transport/NMUDP.h"
#include "transport/ScktComp.h"
#include "transport/XComDrv.h"
#include "transport/sysutils.h"
#include "transport/winsock.h"
#include "ui/messages.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include <thread>

namespace {

bool alive(const QPointer<TFrmData> &window)
{
    return window && window->Endpoint;
}

// Waits while the event loop keeps running, so the program stays responsive
// during a pause between repetitions.
void pauseWithEvents(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

QByteArray TFrmData::sendBoxData() const
{
    const QString text = Memo3->toPlainText();
    return HexMode() ? HexTextToBytes(text) : SendBoxBytes(text);
}

bool TFrmData::repeatSend(const QByteArray &data, int count, const std::function<int()> &pauseMs)
{
    const QPointer<TFrmData> self(this);
    const quint64 generation = stopGeneration_;
    for (int i = 0; i < count; ++i) {
        const qint64 sent = SendToPeer(data);
        if (!alive(self))
            return false;
        SendBytes += sent;
        if (repeatsStopped(generation))
            return false;
        if (pauseMs) {
            pauseWithEvents(std::max(0, pauseMs()));
            if (!alive(self) || self->repeatsStopped(generation))
                return false;
        }
        QCoreApplication::processEvents();
        if (!alive(self) || self->repeatsStopped(generation))
            return false;
    }
    return true;
}

void TFrmData::Button11Click()
{
    const QByteArray data = sendBoxData();
    if (data.isEmpty())
        return;
    const QString countText = ComboBox2->currentText();
    AppendLog(SendLogLine(TimeText(), data, HexMode(), countText));
    Memo3->clear();
    const int count = StrToInt(countText);
    if (repeatSend(data, count, [this] { return StrToInt(Edit1->text()); }))
        WriteCounters();
}

qint64 TFrmData::SendToPeer(const QByteArray &data)
{
    TMySocket *endpoint = Endpoint;
    if (!endpoint)
        return 0;
    const QString &kind = endpoint->Kind;
    if (kind == Kinds::TcpClient) {
        if (auto *client = qobject_cast<TClientSocket *>(endpoint->Transport))
            sendTcp(client->Connection(), data);
    } else if (kind == Kinds::TcpServerClient) {
        sendTcp(endpoint->Transport, data);
    } else if (kind == Kinds::UdpClient) {
        SendUdpText(*endpoint->UdpClient, data);
    } else if (kind == Kinds::UdpServer) {
        SendUdpText(*endpoint->UdpServer, data);
    } else if (kind == Kinds::UdpGroup) {
        SendGroupText(*endpoint, data);
    } else if (kind == Kinds::TcpServer) {
        // A server sends to every peer it holds at this moment; only what
        // reached a peer counts.
        auto *server = qobject_cast<TServerSocket *>(endpoint->Transport);
        if (!server)
            return 0;
        std::vector<QPointer<TServerClientWinSocket>> peers;
        TServerWinSocket *listener = server->Connection();
        for (int i = 0; i < listener->ConnectionCount(); ++i)
            peers.emplace_back(listener->ConnectionAt(i));
        const QPointer<TFrmData> self(this);
        qint64 handed = 0;
        for (const auto &peer : peers) {
            if (peer && peer->IsConnected() && sendTcp(peer, data))
                handed += data.size();
            if (!alive(self))
                break;
        }
        return handed;
    }
    return data.size();
}

bool TFrmData::sendTcp(QObject *connection, const QByteArray &data)
{
    const QPointer<TFrmData> self(this);
    const QPointer<TCustomWinSocket> socket(qobject_cast<TCustomWinSocket *>(connection));
    while (socket) {
        if (socket->SendString(data) > 0)
            return true;
        if (!socket->IsConnected())
            break;
        QCoreApplication::processEvents();
        if (!alive(self))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (alive(self))
        AppendLog(TimeText() + QStringLiteral(" 发送失败：连接已断开，数据未发出"));
    return false;
}

void TFrmData::SendUdpText(TNMUDP &udp, const QByteArray &data)
{
    QBuffer stream;
    stream.setData(data);
    stream.open(QIODevice::ReadOnly);
    udp.SendDatagram(stream);
}

void TFrmData::SendGroupText(TMySocket &group, const QByteArray &data)
{
    using namespace winsock;
    group.GroupAddr.sin_addr.s_addr = inet_addr(group.GroupIP.toLocal8Bit().constData());
    const int sent = winsock::sendto(group.GroupSocket, data.constData(), int(data.size()), 0,
        reinterpret_cast<const sockaddr *>(&group.GroupAddr), 16);
    const int error = WSAGetLastError();
    if (error != 0 && error != WSAEWOULDBLOCK)
        ShowMessage(QString::number(error));
    if (sent == SOCKET_ERROR)
        ShowMessage(QStringLiteral("send fail"));
    if (sent != data.size())
        ShowMessage(QStringLiteral("Not Send all"));
}

void TFrmData::suiButton1Click()
{
    const int interval = StrToInt(Edit1->text());
    if (interval < 0) {
        ShowMessage(QStringLiteral("定时间隔不能为负数，定时发送保持原状"));
        return;
    }
    if (interval != timerInterval_) {
        timerInterval_ = interval;
        Timer1->setInterval(interval); // restarts the count from now
    }
    timerOn_ = true;
    applyTimer();
}

void TFrmData::suiButton2Click()
{
    timerOn_ = false;
    applyTimer();
    // Also ends a repeat in progress.
    ++stopGeneration_;
}

void TFrmData::applyTimer()
{
    // An interval of 0 leaves the timer on without ticking.
    if (timerOn_ && timerInterval_ > 0) {
        if (!Timer1->isActive())
            Timer1->start();
    } else {
        Timer1->stop();
    }
}

void TFrmData::Timer1Timer()
{
    const QByteArray data = sendBoxData();
    if (data.isEmpty())
        return;
    const QString countText = ComboBox2->currentText();
    AppendLog(TimedSendLogLine(TimeText(), data, HexMode(), countText));
    if (repeatSend(data, StrToInt(countText), nullptr))
        WriteCounters();
}

void TFrmData::Button2Click()
{
    SendBytes = 0;
    RecvBytes = 0;
    WriteCounters();
    FlushLog();
}

void TFrmData::XComm1Data()
{
    QByteArray data;
    XComm1->ReadString(data);
    if (data.isEmpty())
        return;
    // A failed forward (a UDP Server that has no peer yet) is noted in the
    // log; the serial input keeps working.
    try {
        SendToPeer(data);
    } catch (const std::exception &e) {
        AppendLog(TimeText() + QStringLiteral(" 串口数据转发失败：") + ExceptionMessage(e));
    }
}

void TFrmData::ForwardToSerial(const QByteArray &data)
{
    if (!XComm1->IsOpen())
        return;
    // A device that does not drain must not hold up the window: the bytes go
    // through the port's bounded write queue, and what does not fit is lost.
    const qsizetype dropped = data.size() - XComm1->QueueWrite(data);
    if (dropped == 0) {
        serialQueueOverflowing_ = false;
        return;
    }
    if (!serialQueueOverflowing_)
        AppendLog(TimeText() + QStringLiteral(" 串口发送缓冲区已满，已丢弃 %1 字节").arg(dropped));
    serialQueueOverflowing_ = true;
}
