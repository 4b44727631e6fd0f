#include "datawindow/datawindow.h"

#include "core/errors.h"
#include "core/hexcodec.h"
#include "core/logtexts.h"
#include "datawindow/repeatcountbox.h"
#include "ui/documentarea.h"
#include "ui/logfeed.h"
#include "ui/logview.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QColor cream(255, 251, 240);
const QColor logBackground(247, 249, 253);

void paint(QWidget *w, const QColor &colour, QPalette::ColorRole role = QPalette::Window)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Sizes a widget to fit its fixed caption. Measuring shapes the text, a cost
// every window would pay again for the same captions (a burst of accepted
// peers makes a window each), so the size is kept per caption and font.
void fitCaption(QWidget *w, const QString &caption)
{
    static QHash<QString, QSize> sizes;
    const QString key
        = w->metaObject()->className() + QLatin1Char('\n') + w->font().key() + QLatin1Char('\n') + caption;
    const auto known = sizes.constFind(key);
    if (known != sizes.constEnd()) {
        w->resize(*known);
        return;
    }
    w->adjustSize();
    sizes.insert(key, w->size());
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, int width = -1)
{
    auto *l = new QLabel(text, parent);
    if (width > 0)
        l->setGeometry(x, y, width, 17);
    else {
        fitCaption(l, text);
        l->move(x, y);
    }
    return l;
}

QPushButton *button(QWidget *parent, const QString &caption, int x, int y, int w, int h)
{
    auto *b = new QPushButton(caption, parent);
    b->setGeometry(x, y, w, h);
    return b;
}

QVBoxLayout *fill(QWidget *parent, QWidget *child)
{
    auto *layout = new QVBoxLayout(parent);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(child);
    return layout;
}

} // namespace

void SendEdit::keyPressEvent(QKeyEvent *event)
{
    // Shortcuts (copy, paste, select all) are commands, not typed characters.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = event->text();
    if (keyFilter && !shortcut && text.size() == 1 && !keyFilter(text[0])) {
        event->accept();
        return;
    }
    PlainTextBox::keyPressEvent(event);
}

DataWindow::DataWindow(DocumentArea *area)
    : area_(area)
{
    setWindowTitle(QStringLiteral("数据收发窗口"));
    resize(505, 503);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildStatusPanel();
    layout->addWidget(statusBox);

    body = new QWidget(this);
    auto *panel2Layout = new QVBoxLayout(body);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(0);
    layout->addWidget(body, 1);
    buildReceiveArea();
    panel2Layout->addWidget(receiveArea);
    buildSendArea();
    panel2Layout->addWidget(sendBox, 1);

    timer = new QTimer(this);
    timer->setInterval(1000);
    timer->setTimerType(Qt::PreciseTimer);
    connectHandlers();

    log_ = new LogFeed(logView);
    log_->update = [this] { showCounters(CountersLine(receivedBytes, sentBytes)); };

    if (area)
        area->AddDocument(this);
}

DataWindow::~DataWindow() = default;

void DataWindow::buildStatusPanel()
{
    statusBox = new QGroupBox(QStringLiteral("Socket状态"), this);
    statusBox->setFixedHeight(81);
    paint(statusBox, cream);
    stateLabel = label(statusBox, QStringLiteral("linkstatus"), 16, 24, 73);
    createdLabel = label(statusBox, QString(), 96, 24);
    createdLabel->hide();
    peerAddressLabel = label(statusBox, QStringLiteral("Label3"), 232, 24, 129);
    peerPortLabel = label(statusBox, QStringLiteral("Label4"), 365, 24, 132);
    spareLabel = label(statusBox, QStringLiteral("Label5"), 232, 56, 129);
    localPortLabel = label(statusBox, QStringLiteral("Label6"), 367, 56, 129);
    startButton = button(statusBox, QString(), 16, 48, 80, 27);
    startButton->hide();
    stopButton = button(statusBox, QString(), 104, 48, 80, 27);
    stopButton->hide();
    webReplySwitch = new QCheckBox(QStringLiteral("启动Web服务"), statusBox);
    webReplySwitch->setGeometry(96, 0, 97, 17);
    fitCaption(webReplySwitch, webReplySwitch->text());
    webReplySwitch->hide();
}

void DataWindow::buildReceiveArea()
{
    receiveArea = new QWidget(body);
    receiveArea->setFixedHeight(164);
    receiveBox = new QGroupBox(QStringLiteral("数据接收及提示窗口"), receiveArea);
    paint(receiveBox, cream);
    fill(receiveArea, receiveBox)->setContentsMargins(0, 0, 0, 0);
    logView = new LogView(receiveBox);
    paint(logView, logBackground, QPalette::Base);
    fill(receiveBox, logView);
}

void DataWindow::buildSendArea()
{
    sendBox = new QGroupBox(QStringLiteral("数据发送窗口(文本模式)"), body);
    paint(sendBox, cream);
    auto *sendLayout = new QVBoxLayout(sendBox);
    sendLayout->setContentsMargins(2, 2, 2, 2);
    sendLayout->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    sendLayout->addLayout(row, 1);

    sendEdit = new SendEdit(sendBox);
    paint(sendEdit, palette().color(QPalette::Light), QPalette::Base);
    sendEdit->keyFilter = [this](QChar c) { return acceptsKey(c); };
    row->addWidget(sendEdit, 1);

    optionsPanel = new QWidget(sendBox);
    optionsPanel->setFixedWidth(157);
    paint(optionsPanel, cream);
    auto *panel6Layout = new QVBoxLayout(optionsPanel);
    panel6Layout->setContentsMargins(0, 0, 0, 0);
    auto *options = new QWidget(optionsPanel);
    options->setMinimumHeight(150);
    panel6Layout->addWidget(options, 1);
    sendButton = button(options, QStringLiteral("发送数据"), 24, 1, 93, 25);
    repeatCountLabel = label(options, QStringLiteral("重复发送次数       "), 24, 40);
    repeatCountBox = new RepeatCountBox(options);
    repeatCountBox->addItems({"1", "10", "100", "1000", "10000"});
    repeatCountBox->setEditText(QStringLiteral("1"));
    repeatCountBox->setGeometry(24, 60, 97, 21);
    intervalLabel = label(options, QStringLiteral("间隔(ms)"), 16, 104);
    intervalEdit = new QLineEdit(QStringLiteral("1000"), options);
    intervalEdit->setGeometry(69, 101, 48, 21);
    startTimerButton = button(options, QStringLiteral("定时发送"), 8, 124, 57, 23);
    stopTimerButton = button(options, QStringLiteral("停止定时发送"), 72, 124, 81, 22);
    countersBar = new QStatusBar(optionsPanel);
    countersBar->setFixedHeight(19);
    countersBar->setSizeGripEnabled(false);
    paint(countersBar, cream);
    countersLabel_ = new QLabel(countersBar);
    countersLabel_->setMinimumWidth(100);
    countersBar->addWidget(countersLabel_, 1);
    panel6Layout->addWidget(countersBar);
    row->addWidget(optionsPanel);

    modeBar = new QGroupBox(sendBox);
    modeBar->setFixedHeight(41);
    paint(modeBar, cream);
    hexSwitch = new QCheckBox(QStringLiteral("十六进制格式"), modeBar);
    hexSwitch->setGeometry(8, 16, 145, 17);
    resetCountersButton = button(modeBar, QStringLiteral("统计清零"), 371, 10, 80, 25);
    sendLayout->addWidget(modeBar);

    connect(hexSwitch, &QCheckBox::clicked, this, [this] { Guarded([this] { updateSendBoxTitle(); }); });
}

bool DataWindow::isHexMode() const
{
    return hexSwitch->isChecked();
}

void DataWindow::logReceived(const QByteArray &data)
{
    appendLogLine(ReceiveLogLine(TimeText(), data, isHexMode()));
    receivedBytes += data.size();
    updateCounters();
}

void DataWindow::appendLogLine(const QString &line)
{
    log_->Append(line);
}

void DataWindow::updateCounters()
{
    log_->Touch();
}

void DataWindow::flushLog()
{
    log_->Flush();
}

void DataWindow::showCounters(const QString &line)
{
    if (line == countersLabel_->text())
        return;
    countersLabel_->setText(line);
    // The strip beside the send box widens as the numbers grow, so the line
    // is always whole; it keeps its designed width while that is enough.
    constexpr int designedWidth = 157;
    constexpr int statusBarMargins = 16;
    const int needed = countersLabel_->fontMetrics().horizontalAdvance(line) + statusBarMargins;
    const int width = std::max(designedWidth, needed);
    if (optionsPanel->width() != width)
        optionsPanel->setFixedWidth(width);
}

QString DataWindow::countersText() const
{
    return countersLabel_->text();
}

void DataWindow::updateSendBoxTitle()
{
    sendBox->setTitle(
        isHexMode() ? QStringLiteral("数据发送窗口[HEX模式]") : QStringLiteral("数据发送窗口(文本模式)"));
}

bool DataWindow::acceptsKey(QChar key) const
{
    return !isHexMode() || IsHexKey(key);
}

void DataWindow::bringToFront()
{
    if (area_) {
        area_->Activate(this);
        return;
    }
    show();
    raise();
}

void DataWindow::destroyLater()
{
    // Nothing reaches a window on its way out: no ticks, and a repeat or pause
    // running under it ends.
    endSending();
    if (area_)
        area_->Remove(this);
    hide();
    deleteLater();
}

bool DataWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == stopButton && event->type() == QEvent::MouseButtonRelease && stopButton->isEnabled()) {
        Guarded([this] { stopEndpoint(); });
        return false;
    }
    return QWidget::eventFilter(watched, event);
}
