#include "core/filereader.h"

#include "core/filecalls.h"
#include "core/regularfile.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

struct FileReader::Shared {
    int fd = -1; // the thread's once started; it closes it
    std::mutex mutex;
    std::condition_variable wake; // the thread waits for something to read
    std::condition_variable wholeRead; // the open waits for a whole read
    std::deque<qint64> requests; // block indices, the most wanted first
    std::vector<std::pair<qint64, Block>> arrived; // read, not yet taken
    // Blocks given up by the reader, read into again: memory stays flat
    // whatever the file's size, also where freed memory is not reused at
    // once.
    std::vector<QByteArray> spare;
    bool closing = false;
    bool wantWhole = false;
    bool wholeDone = false;
    std::optional<QByteArray> whole;
    int wholeError = 0;
    // Told of arrivals; nullptr once the reader stopped listening.
    FileReader *owner = nullptr;
};

FileReader::FileReader(QObject *parent)
    : QObject(parent)
{
}

FileReader::~FileReader()
{
    stopThread();
}

bool FileReader::open(const QString &path, QString *error)
{
    Q_ASSERT(!shared_);
    const int fd = openRegularFileForReading(path, error);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        if (error)
            *error = systemErrorText(errno);
        ::close(fd);
        return false;
    }
    size_ = info.st_size;
    shared_ = std::make_shared<Shared>();
    shared_->fd = fd;
    shared_->owner = this;
    shared_->wantWhole = size_ == 0;
    std::thread([shared = shared_] { readLoop(shared); }).detach();
    if (size_ > 0)
        return true;

    // Its size says nothing: what it holds is read now, within a bound (a
    // file of /proc may wait for something to happen before it answers).
    Shared &shared = *shared_;
    std::unique_lock lock(shared.mutex);
    const bool done = shared.wholeRead.wait_for(lock, OpenWait, [&shared] { return shared.wholeDone; });
    std::optional<QByteArray> whole = std::move(shared.whole);
    const int code = shared.wholeError;
    lock.unlock();
    // Everything from now on comes from memory.
    stopThread();
    if (!done || !whole) {
        if (error)
            *error = !done      ? tr("读取文件无响应")
                : code == EFBIG ? fileTooLargeText(MaxUnsizedBytes)
                                : systemErrorText(code);
        return false;
    }
    size_ = whole->size();
    whole_ = std::move(whole);
    return true;
}

FileReader::Piece FileReader::at(qint64 offset)
{
    Q_ASSERT(offset >= 0 && offset < size_);
    Piece piece;
    const qint64 index = offset / BlockBytes;
    const qint64 inBlock = offset - index * BlockBytes;
    if (whole_) {
        piece.state = State::Ready;
        const qint64 end = std::min<qint64>(whole_->size(), (index + 1) * BlockBytes);
        piece.bytes = QByteArrayView(*whole_).sliced(offset, std::max<qint64>(0, end - offset));
        return piece;
    }
    takeArrived();
    for (qint64 next = index + 1; next <= index + ReadAhead; ++next)
        request(next, false);
    const auto found = blocks_.find(index);
    if (found == blocks_.end()) {
        request(index, true);
        return piece;
    }
    Block &block = found->second;
    block.lastUse = ++uses_;
    if (block.error != 0) {
        piece.state = State::Failed;
        piece.error = systemErrorText(block.error);
        return piece;
    }
    // A file that grew since the open is sent as long as it was then, so
    // that the progress and the total agree.
    const qint64 from = std::min<qint64>(inBlock, block.bytes.size());
    const qint64 to = std::min<qint64>(block.bytes.size(), size_ - index * BlockBytes);
    piece.state = State::Ready;
    piece.bytes = QByteArrayView(block.bytes).sliced(from, std::max<qint64>(0, to - from));
    return piece;
}

void FileReader::takeArrived()
{
    if (!shared_)
        return;
    std::vector<std::pair<qint64, Block>> arrived;
    {
        const std::lock_guard lock(shared_->mutex);
        arrived.swap(shared_->arrived);
    }
    for (auto &[index, block] : arrived) {
        requested_.erase(index);
        block.lastUse = ++uses_;
        blocks_[index] = std::move(block);
    }
    while (blocks_.size() > MaxBlocks) {
        const auto oldest = std::min_element(blocks_.begin(), blocks_.end(),
            [](const auto &a, const auto &b) { return a.second.lastUse < b.second.lastUse; });
        {
            const std::lock_guard lock(shared_->mutex);
            if (shared_->spare.size() < MaxBlocks)
                shared_->spare.push_back(std::move(oldest->second.bytes));
        }
        blocks_.erase(oldest);
    }
}

void FileReader::request(qint64 index, bool first)
{
    if (!shared_ || index * BlockBytes >= size_ || blocks_.count(index) > 0 || requested_.count(index) > 0)
        return;
    requested_.insert(index);
    {
        const std::lock_guard lock(shared_->mutex);
        if (first)
            shared_->requests.push_front(index);
        else
            shared_->requests.push_back(index);
    }
    shared_->wake.notify_one();
}

void FileReader::stopThread()
{
    if (!shared_)
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->closing = true;
        shared_->owner = nullptr;
        shared_->requests.clear();
    }
    shared_->wake.notify_one();
    shared_.reset();
    requested_.clear();
}

void FileReader::readLoop(const std::shared_ptr<Shared> &shared)
{
    Shared &s = *shared;
    const auto readBlock = [&s](qint64 index, QByteArray buffer) {
        Block block;
        block.bytes = std::move(buffer);
        block.bytes.resize(BlockBytes);
        qint64 got = 0;
        while (got < BlockBytes) {
            const ssize_t n = readFileAt(
                s.fd, block.bytes.data() + got, size_t(BlockBytes - got), off_t(index * BlockBytes + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                block.error = errno;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        block.bytes.resize(block.error != 0 ? 0 : got);
        return block;
    };

    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.closing || s.wantWhole || !s.requests.empty(); });
        if (s.closing)
            break;
        if (s.wantWhole) {
            s.wantWhole = false;
            lock.unlock();
            int code = 0;
            std::optional<QByteArray> content = readToEnd(s.fd, MaxUnsizedBytes, &code);
            lock.lock();
            s.whole = std::move(content);
            s.wholeError = code;
            s.wholeDone = true;
            s.wholeRead.notify_one();
            continue;
        }
        const qint64 index = s.requests.front();
        s.requests.pop_front();
        QByteArray buffer;
        if (!s.spare.empty()) {
            buffer = std::move(s.spare.back());
            s.spare.pop_back();
        }
        lock.unlock();
        Block block = readBlock(index, std::move(buffer));
        lock.lock();
        if (s.closing)
            break;
        const bool first = s.arrived.empty();
        s.arrived.emplace_back(index, std::move(block));
        // One notice for what gathers until the reader takes it; queued, so
        // it is dropped with the reader if that goes first.
        if (first && s.owner) {
            FileReader *to = s.owner;
            QMetaObject::invokeMethod(
                to, [to] { emit to->blockArrived(); }, Qt::QueuedConnection);
        }
    }
    const int fd = std::exchange(s.fd, -1);
    lock.unlock();
    ::close(fd);
}
