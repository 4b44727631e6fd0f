#include "datapanel/datapanel.h"

#include "core/errors.h"
#include "core/hexcodec.h"
#include "core/logtexts.h"
#include "datapanel/countbox.h"
#include "datapanel/logtext.h"
#include "datapanel/logview.h"
#include "net/serial/serialport.h"
#include "ui/documentarea.h"

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

void TSendBox::keyPressEvent(QKeyEvent *event)
{
    // Shortcuts (copy, paste, select all) are commands, not typed characters.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = event->text();
    if (keyFilter && !shortcut && text.size() == 1 && !keyFilter(text[0])) {
        event->accept();
        return;
    }
    TPlainTextBox::keyPressEvent(event);
}

TFrmData::TFrmData(TDocumentArea *area)
    : area_(area)
{
    setWindowTitle(QStringLiteral("数据收发窗口"));
    resize(505, 503);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildStatusPanel();
    layout->addWidget(GroupBox1);

    Panel2 = new QWidget(this);
    auto *panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(0);
    layout->addWidget(Panel2, 1);
    buildReceiveArea();
    panel2Layout->addWidget(Panel4);
    buildSendArea();
    panel2Layout->addWidget(GroupBox2, 1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer1->setTimerType(Qt::PreciseTimer);
    configureSerialPort();
    connectHandlers();

    log_ = new TLogView(Memo2);
    log_->update = [this] { showCounters(CountersLine(RecvBytes, SendBytes)); };

    if (area)
        area->AddDocument(this);
}

TFrmData::~TFrmData() = default;

void TFrmData::buildStatusPanel()
{
    GroupBox1 = new QGroupBox(QStringLiteral("Socket状态"), this);
    GroupBox1->setFixedHeight(81);
    paint(GroupBox1, cream);
    Label1 = label(GroupBox1, QStringLiteral("linkstatus"), 16, 24, 73);
    Label2 = label(GroupBox1, QString(), 96, 24);
    Label2->hide();
    Label3 = label(GroupBox1, QStringLiteral("Label3"), 232, 24, 129);
    Label4 = label(GroupBox1, QStringLiteral("Label4"), 365, 24, 132);
    Label5 = label(GroupBox1, QStringLiteral("Label5"), 232, 56, 129);
    Label6 = label(GroupBox1, QStringLiteral("Label6"), 367, 56, 129);
    Button5 = button(GroupBox1, QString(), 16, 48, 80, 27);
    Button5->hide();
    Button6 = button(GroupBox1, QString(), 104, 48, 80, 27);
    Button6->hide();
    ckwebsvr = new QCheckBox(QStringLiteral("启动Web服务"), GroupBox1);
    ckwebsvr->setGeometry(96, 0, 97, 17);
    fitCaption(ckwebsvr, ckwebsvr->text());
    ckwebsvr->hide();
}

void TFrmData::buildReceiveArea()
{
    Panel4 = new QWidget(Panel2);
    Panel4->setFixedHeight(164);
    GroupBox3 = new QGroupBox(QStringLiteral("数据接收及提示窗口"), Panel4);
    paint(GroupBox3, cream);
    fill(Panel4, GroupBox3)->setContentsMargins(0, 0, 0, 0);
    Memo2 = new TLogText(GroupBox3);
    paint(Memo2, logBackground, QPalette::Base);
    fill(GroupBox3, Memo2);
}

void TFrmData::buildSendArea()
{
    GroupBox2 = new QGroupBox(QStringLiteral("数据发送窗口(文本模式)"), Panel2);
    paint(GroupBox2, cream);
    auto *sendLayout = new QVBoxLayout(GroupBox2);
    sendLayout->setContentsMargins(2, 2, 2, 2);
    sendLayout->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    sendLayout->addLayout(row, 1);

    Memo3 = new TSendBox(GroupBox2);
    paint(Memo3, palette().color(QPalette::Light), QPalette::Base);
    Memo3->keyFilter = [this](QChar c) { return Memo3KeyPress(c); };
    row->addWidget(Memo3, 1);

    Panel6 = new QWidget(GroupBox2);
    Panel6->setFixedWidth(157);
    paint(Panel6, cream);
    auto *panel6Layout = new QVBoxLayout(Panel6);
    panel6Layout->setContentsMargins(0, 0, 0, 0);
    auto *options = new QWidget(Panel6);
    options->setMinimumHeight(150);
    panel6Layout->addWidget(options, 1);
    Button11 = button(options, QStringLiteral("发送数据"), 24, 1, 93, 25);
    Label7 = label(options, QStringLiteral("重复发送次数       "), 24, 40);
    ComboBox2 = new TCountBox(options);
    ComboBox2->addItems({"1", "10", "100", "1000", "10000"});
    ComboBox2->setEditText(QStringLiteral("1"));
    ComboBox2->setGeometry(24, 60, 97, 21);
    Label8 = label(options, QStringLiteral("间隔(ms)"), 16, 104);
    Edit1 = new QLineEdit(QStringLiteral("1000"), options);
    Edit1->setGeometry(69, 101, 48, 21);
    suiButton1 = button(options, QStringLiteral("定时发送"), 8, 124, 57, 23);
    suiButton2 = button(options, QStringLiteral("停止定时发送"), 72, 124, 81, 22);
    StatusBar2 = new QStatusBar(Panel6);
    StatusBar2->setFixedHeight(19);
    StatusBar2->setSizeGripEnabled(false);
    paint(StatusBar2, cream);
    countersPanel_ = new QLabel(StatusBar2);
    countersPanel_->setMinimumWidth(100);
    StatusBar2->addWidget(countersPanel_, 1);
    panel6Layout->addWidget(StatusBar2);
    row->addWidget(Panel6);

    GroupBox8 = new QGroupBox(GroupBox2);
    GroupBox8->setFixedHeight(41);
    paint(GroupBox8, cream);
    CheckBox2 = new QCheckBox(QStringLiteral("十六进制格式"), GroupBox8);
    CheckBox2->setGeometry(8, 16, 145, 17);
    Button2 = button(GroupBox8, QStringLiteral("统计清零"), 371, 10, 80, 25);
    sendLayout->addWidget(GroupBox8);

    connect(CheckBox2, &QCheckBox::clicked, this, [this] { Guarded([this] { CheckBox2Click(); }); });
}

bool TFrmData::HexMode() const
{
    return CheckBox2->isChecked();
}

void TFrmData::LogReceived(const QByteArray &data)
{
    AppendLog(ReceiveLogLine(TimeText(), data, HexMode()));
    RecvBytes += data.size();
    WriteCounters();
}

void TFrmData::AppendLog(const QString &line)
{
    log_->Append(line);
}

void TFrmData::WriteCounters()
{
    log_->Touch();
}

void TFrmData::FlushLog()
{
    log_->Flush();
}

void TFrmData::showCounters(const QString &line)
{
    if (line == countersPanel_->text())
        return;
    countersPanel_->setText(line);
    // The strip beside the send box widens as the numbers grow, so the line
    // is always whole; it keeps its designed width while that is enough.
    constexpr int designedWidth = 157;
    constexpr int statusBarMargins = 16;
    const int needed = countersPanel_->fontMetrics().horizontalAdvance(line) + statusBarMargins;
    const int width = std::max(designedWidth, needed);
    if (Panel6->width() != width)
        Panel6->setFixedWidth(width);
}

QString TFrmData::CountersText() const
{
    return countersPanel_->text();
}

void TFrmData::CheckBox2Click()
{
    GroupBox2->setTitle(
        HexMode() ? QStringLiteral("数据发送窗口[HEX模式]") : QStringLiteral("数据发送窗口(文本模式)"));
}

bool TFrmData::Memo3KeyPress(QChar key) const
{
    return !HexMode() || IsHexKey(key);
}

void TFrmData::BringToFront()
{
    if (area_) {
        area_->Activate(this);
        return;
    }
    show();
    raise();
}

void TFrmData::Destroy()
{
    // Nothing reaches a window on its way out: no ticks, no serial data, and
    // a repeat or pause running under it ends.
    EndSending();
    if (XComm1->IsOpen())
        XComm1->Close();
    if (area_)
        area_->Remove(this);
    hide();
    deleteLater();
}

bool TFrmData::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Button6 && event->type() == QEvent::MouseButtonRelease && Button6->isEnabled()) {
        Guarded([this] { Button6MouseUp(); });
        return false;
    }
    return QWidget::eventFilter(watched, event);
}
