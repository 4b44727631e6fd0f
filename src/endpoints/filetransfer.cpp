#include "endpoints/filetransfer.h"

#include "core/errors.h"
#include "core/filereader.h"
#include "endpoints/endpoint.h"
#include "endpoints/endpointsend.h"
#include "endpoints/serialendpoint.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

// What one read takes from the file for one connection: enough for a
// connection to fill its kernel queue in a few calls, small enough that
// memory stays flat whatever the file's size.
constexpr qint64 ChunkBytes = 64 * 1024;
constexpr qint64 DatagramBytes = 1024;
// Sending time per pass before the event loop runs again.
constexpr qint64 PassBudgetMs = 5;
// A connection that reported no room for this long is tried anyway.
constexpr int StallRetryMs = 200;

QString connectionGoneText()
{
    return QCoreApplication::translate("FileTransfer", "连接已断开");
}

// The transfers feeding each connection, so that a connection's room
// notification reaches them. An entry goes when its target ends.
std::unordered_multimap<const TcpConnection *, FileTransfer *> &runningTransfers()
{
    static std::unordered_multimap<const TcpConnection *, FileTransfer *> running;
    return running;
}

std::vector<TcpConnection *> connectedTargets(const Endpoint &endpoint)
{
    std::vector<TcpConnection *> targets;
    auto add = [&targets](TcpConnection *connection) {
        if (connection && connection->isConnected())
            targets.push_back(connection);
    };
    if (const TcpClient *client = endpoint.tcpClient())
        add(client->connection());
    add(endpoint.peerConnection());
    if (const TcpServer *server = endpoint.tcpServer()) {
        // Every peer connected now; one that comes later gets nothing of it.
        TcpListener *listener = server->listener();
        for (int i = 0; i < listener->peerCount(); ++i)
            add(listener->peerAt(i));
    }
    return targets;
}

} // namespace

FileTransfer *FileTransfer::start(Endpoint &endpoint, const QString &path, QObject *parent, QString *error)
{
    Mode mode = Mode::Stream;
    bool reachable = false;
    std::vector<TcpConnection *> connections;
    switch (endpoint.kind) {
    case EndpointKind::TcpServer:
    case EndpointKind::TcpAcceptedPeer:
    case EndpointKind::TcpClient:
        connections = connectedTargets(endpoint);
        reachable = !connections.empty();
        // A connection busy with another send (typed, or another file) is
        // left out: their bytes would mix.
        std::erase_if(connections,
            [](const TcpConnection *c) { return isTypedSendUnderWay(c) || FileTransfer::isSendingTo(c); });
        if (reachable && connections.empty()) {
            if (error)
                *error = tr("上一次发送尚未完成");
            return nullptr;
        }
        break;
    case EndpointKind::UdpClient:
    case EndpointKind::UdpServer:
        // A server has somewhere to send only once someone sent to it.
        mode = Mode::Datagrams;
        reachable = endpoint.udp() && !endpoint.udp()->remoteHost().isEmpty();
        break;
    case EndpointKind::UdpGroup:
        mode = Mode::Group;
        reachable = endpoint.group && endpoint.group->socket() != -1;
        break;
    case EndpointKind::SerialPort:
        mode = Mode::Serial;
        reachable = endpoint.serialPort() && endpoint.serialPort()->isOpen();
        break;
    }
    std::unique_ptr<FileTransfer> transfer(new FileTransfer(endpoint, mode, parent));
    if (!transfer->openFile(path, error))
        return nullptr;
    if (!reachable) {
        if (error)
            *error = tr("没有可发送的连接");
        return nullptr;
    }
    for (TcpConnection *connection : connections) {
        Target target;
        target.connection = connection;
        target.key = connection;
        target.handle = connection->socketHandle();
        transfer->targets_.push_back(target);
    }
    if (mode == Mode::Stream)
        transfer->targetCount_ = qint64(connections.size());
    transfer->begin();
    return transfer.release();
}

FileTransfer::FileTransfer(Endpoint &endpoint, Mode mode, QObject *parent)
    : QObject(parent)
    , endpoint_(endpoint.lifetime())
    , record_(&endpoint)
    , mode_(mode)
    , continuation_(new QTimer(this))
    , stallCheck_(new QTimer(this))
{
    continuation_->setSingleShot(true);
    continuation_->setInterval(0);
    connect(continuation_, &QTimer::timeout, this, [this] { Guarded([this] { pump(); }); });
    stallCheck_->setInterval(StallRetryMs);
    connect(stallCheck_, &QTimer::timeout, this, [this] {
        Guarded([this] {
            if (sinceProgress_.elapsed() >= StallRetryMs)
                pump();
        });
    });
}

FileTransfer::~FileTransfer()
{
    for (const Target &target : targets_)
        unregister(target);
}

bool FileTransfer::openFile(const QString &path, QString *error)
{
    reader_ = std::make_unique<FileReader>();
    if (!reader_->open(path, error)) {
        reader_.reset();
        return false;
    }
    fileSize_ = reader_->size();
    connect(reader_.get(), &FileReader::blockArrived, this, [this] {
        if (running_)
            continuation_->start();
    });
    return true;
}

void FileTransfer::begin()
{
    running_ = true;
    sinceProgress_.start();
    if (fileSize_ == 0) {
        finish(Result::Completed);
        return;
    }
    for (const Target &target : targets_)
        runningTransfers().emplace(target.key, this);
    // The first bytes go from the event loop, once the caller has connected
    // to the signals.
    continuation_->start();
    if (mode_ == Mode::Stream)
        stallCheck_->start();
}

void FileTransfer::cancel()
{
    finish(Result::Cancelled);
}

void FileTransfer::connectionWritable(TcpConnection *connection)
{
    // A pass may end transfers and so change the registry; walk a copy.
    std::vector<QPointer<FileTransfer>> feeding;
    const auto [first, last] = runningTransfers().equal_range(connection);
    for (auto it = first; it != last; ++it)
        feeding.emplace_back(it->second);
    for (const QPointer<FileTransfer> &transfer : feeding)
        if (transfer)
            transfer->pump(connection);
}

bool FileTransfer::endpointGone() const
{
    return endpoint_.expired();
}

void FileTransfer::pump(TcpConnection *only)
{
    if (!running_)
        return;
    if (pumping_) {
        pumpAgain_ = true;
        return;
    }
    QPointer<FileTransfer> self(this);
    pumping_ = true;
    pumpAgain_ = false;
    QElapsedTimer pass;
    pass.start();
    bool going = true;
    if (mode_ != Mode::Stream) {
        going = sendDatagrams(pass);
    } else {
        const size_t count = targets_.size();
        const size_t firstTarget = count > 0 ? firstTarget_++ % count : 0;
        for (size_t i = 0; i < count && going; ++i) {
            Target &target = targets_[(firstTarget + i) % count];
            const bool open = target.state == TargetState::Ready || target.state == TargetState::Waiting;
            if (open && (!only || target.connection == only))
                going = feedTarget(target, pass);
        }
    }
    if (!self)
        return;
    pumping_ = false;
    if (!going)
        return;
    if (pumpAgain_)
        continuation_->start();
    reportProgress();
    if (self)
        settle();
}

bool FileTransfer::feedTarget(Target &target, const QElapsedTimer &pass)
{
    QPointer<FileTransfer> self(this);
    for (;;) {
        TcpConnection *connection = target.connection;
        // Another handle is a later connection of the same client, not the
        // one that has the first part of the file.
        if (endpointGone() || !connection || !connection->isConnected()
            || connection->socketHandle() != target.handle) {
            loseTarget(target, connectionGoneText());
            return true;
        }
        if (target.offset >= fileSize_) {
            target.state = TargetState::Done;
            unregister(target);
            return true;
        }
        if (pass.elapsed() >= PassBudgetMs) {
            target.state = TargetState::Ready;
            continuation_->start();
            return true;
        }
        const qint64 length = readAt(target.offset);
        // Not read yet: the other targets go on meanwhile.
        if (length == 0)
            return running_;
        int taken = 0;
        try {
            taken = connection->send(buffer_.constData(), int(length));
        } catch (const std::exception &e) {
            if (!self || !running_)
                return false;
            loseTarget(target, tr("发送失败：") + ExceptionMessage(e));
            return true;
        }
        // The send may have run the connection's handlers, and they anything.
        if (!self || !running_)
            return false;
        if (taken > 0) {
            target.offset += taken;
            sent_ += taken;
            unreported_ += taken;
            sinceProgress_.restart();
        }
        if (taken < 0 || (taken == 0 && connection->isConnected())) {
            // Would block: the connection reports room with a Writable event.
            target.state = TargetState::Waiting;
            return true;
        }
    }
}

bool FileTransfer::sendDatagrams(const QElapsedTimer &pass)
{
    while (datagramOffset_ < fileSize_) {
        if (endpointGone()) {
            finish(Result::Failed, connectionGoneText());
            return false;
        }
        if (pass.elapsed() >= PassBudgetMs) {
            continuation_->start();
            return true;
        }
        if (datagramOffset_ < blockStart_ || datagramOffset_ >= blockStart_ + blockSize_) {
            blockStart_ = datagramOffset_;
            blockSize_ = readAt(datagramOffset_);
            if (blockSize_ == 0)
                return false;
        }
        const qint64 at = datagramOffset_ - blockStart_;
        const qint64 length = std::min<qint64>(DatagramBytes, blockSize_ - at);
        // A copy: the send's handlers may cancel or destroy this transfer
        // with its buffer.
        const DatagramResult result = sendOneDatagram(QByteArray(buffer_.constData() + at, length));
        if (result == DatagramResult::Ended)
            return false;
        if (result == DatagramResult::NoRoom)
            return true; // only what the socket took counts
        datagramOffset_ += length;
        sent_ += length;
        unreported_ += length;
    }
    return true;
}

FileTransfer::DatagramResult FileTransfer::sendOneDatagram(const QByteArray &datagram)
{
    QPointer<FileTransfer> self(this);
    int handle = -1;
    int error = 0;
    if (mode_ == Mode::Serial) {
        SerialEndpoint *serial = record_->serialPort();
        if (!serial || !serial->isOpen()) {
            finish(Result::Failed, connectionGoneText());
            return DatagramResult::Ended;
        }
        if (!serial->hasRoomFor(datagram.size())) {
            // The device drains at its baud rate; look again in a moment.
            QTimer::singleShot(SerialRoomRetryMs, continuation_, [this] { continuation_->start(); });
            return DatagramResult::NoRoom;
        }
        (void)serial->write(datagram);
        return DatagramResult::Taken;
    }
    try {
        if (mode_ == Mode::Group) {
            MulticastMember *group = record_->group.get();
            if (!group) {
                finish(Result::Failed, connectionGoneText());
                return DatagramResult::Ended;
            }
            handle = group->socket();
            const MulticastMember::SendReport report = group->send(datagram);
            if (report.callFailed && UdpSocket::hasNoRoom(dgram::lastError())) {
                error = dgram::lastError();
            } else if (!report.ok()) {
                finish(Result::Failed, tr("发送失败"));
                return DatagramResult::Ended;
            }
        } else {
            UdpSocket *udp = record_->udp();
            if (!udp) {
                finish(Result::Failed, connectionGoneText());
                return DatagramResult::Ended;
            }
            QBuffer stream;
            stream.setData(datagram);
            stream.open(QIODevice::ReadOnly);
            // A host name is looked up first: the datagram waits for it, and
            // a name that does not resolve ends the transfer.
            error = udp->sendDatagram(stream, [self](int result) {
                if (self && self->running_ && result != 0)
                    self->finish(Result::Failed,
                        result == UdpSocket::LookupFailed
                            ? QStringLiteral("Host Lookup Canceled")
                            : tr("发送失败：") + QString::fromLocal8Bit(std::strerror(result)));
            });
            if (error == UdpSocket::SendPending)
                error = 0;
            if (self)
                handle = udp->socketHandle();
        }
    } catch (const std::exception &e) {
        if (self)
            finish(Result::Failed, ExceptionMessage(e));
        return DatagramResult::Ended;
    }
    if (!self || !running_)
        return DatagramResult::Ended;
    if (error == 0)
        return DatagramResult::Taken;
    if (!UdpSocket::hasNoRoom(error)) {
        finish(Result::Failed, tr("发送失败：") + QString::fromLocal8Bit(std::strerror(error)));
        return DatagramResult::Ended;
    }
    awaitDatagramRoom(handle, error != ENOBUFS);
    return DatagramResult::NoRoom;
}

void FileTransfer::awaitDatagramRoom(int handle, bool writable)
{
    if (!writable || handle < 0) {
        // A full adapter queue shows no readiness of its own; it drains in
        // a moment.
        QTimer::singleShot(5, continuation_, [this] { continuation_->start(); });
        return;
    }
    if (!datagramRoom_ || datagramRoom_->socket() != handle) {
        // The endpoint made a new socket since.
        if (datagramRoom_) {
            datagramRoom_->setEnabled(false);
            datagramRoom_->deleteLater();
        }
        datagramRoom_ = new QSocketNotifier(handle, QSocketNotifier::Write, this);
        connect(datagramRoom_, &QSocketNotifier::activated, this, [this, notifier = datagramRoom_] {
            notifier->setEnabled(false);
            Guarded([this] { pump(); });
        });
    }
    datagramRoom_->setEnabled(true);
}

void FileTransfer::loseTarget(Target &target, const QString &reason)
{
    target.state = TargetState::Lost;
    target.lostReason = reason;
    unregister(target);
}

void FileTransfer::settle()
{
    if (!running_)
        return;
    if (mode_ != Mode::Stream) {
        if (datagramOffset_ >= fileSize_)
            finish(Result::Completed);
        return;
    }
    const Target *lost = nullptr;
    for (const Target &target : targets_) {
        if (target.state == TargetState::Ready || target.state == TargetState::Waiting)
            return;
        if (target.state == TargetState::Lost && !lost)
            lost = &target;
    }
    if (lost)
        finish(Result::Failed, lost->lostReason);
    else
        finish(Result::Completed);
}

void FileTransfer::reportProgress()
{
    if (running_ && unreported_ > 0)
        emit progressed(std::exchange(unreported_, 0));
}

qint64 FileTransfer::readAt(qint64 offset)
{
    if (!reader_)
        return 0;
    const FileReader::Piece piece = reader_->at(offset);
    if (piece.state == FileReader::State::Pending)
        return 0;
    // Nothing where the file had bytes at the start: it was cut short
    // while it was being sent.
    if (piece.state == FileReader::State::Failed || piece.bytes.isEmpty()) {
        const QString why = piece.state == FileReader::State::Failed ? piece.error : tr("文件比开始发送时短");
        finish(Result::Failed, tr("读取文件失败：") + why);
        return 0;
    }
    if (buffer_.isEmpty())
        buffer_.resize(ChunkBytes);
    const qint64 length = std::min<qint64>(piece.bytes.size(), buffer_.size());
    std::memcpy(buffer_.data(), piece.bytes.data(), size_t(length));
    return length;
}

void FileTransfer::finish(Result result, const QString &reason)
{
    if (!running_)
        return;
    running_ = false;
    continuation_->stop();
    stallCheck_->stop();
    if (datagramRoom_)
        datagramRoom_->setEnabled(false);
    for (const Target &target : targets_)
        unregister(target);
    // A read still under way is left to end by itself.
    reader_.reset();
    // From the event loop, never inside the caller's stack: a handler of the
    // signal may well delete this object.
    QMetaObject::invokeMethod(
        this,
        [this, result, reason] {
            Guarded([this, result, reason] {
                QPointer<FileTransfer> self(this);
                if (const qint64 rest = std::exchange(unreported_, 0); rest > 0)
                    emit progressed(rest);
                if (self)
                    emit finished(result, reason);
            });
        },
        Qt::QueuedConnection);
}

bool FileTransfer::isSendingTo(const TcpConnection *connection)
{
    return runningTransfers().count(connection) > 0;
}

void FileTransfer::unregister(const Target &target)
{
    auto [first, last] = runningTransfers().equal_range(target.key);
    while (first != last) {
        if (first->second == this)
            first = runningTransfers().erase(first);
        else
            ++first;
    }
}
