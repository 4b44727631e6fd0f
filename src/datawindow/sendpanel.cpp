#include "datawindow/sendpanel.h"

#include "core/errors.h"
#include "core/hexcodec.h"
#include "datawindow/layouthelpers.h"
#include "datawindow/repeatcountbox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

using namespace layout_helpers;

void SendEdit::keyPressEvent(QKeyEvent *event)
{
    // Shortcuts (copy, paste, select all) are commands, not typed characters.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = event->text();
    if (keyRule_ && !shortcut && text.size() == 1 && !keyRule_(text[0])) {
        event->accept();
        return;
    }
    PlainTextBox::keyPressEvent(event);
}

void SendEdit::addContextActions(QMenu *menu)
{
    menu->addSeparator();
    menu->addAction(tr("发送文件..."), this, &SendEdit::sendFileClicked);
}

SendPanel::SendPanel(QWidget *parent)
    : QGroupBox(tr("数据发送窗口(文本模式)"), parent)
{
    setObjectName(QStringLiteral("sendPanel"));
    paintBackground(this, Colours::Cream);
    auto *sendLayout = new QVBoxLayout(this);
    sendLayout->setContentsMargins(2, 2, 2, 2);
    sendLayout->setSpacing(0);
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    sendLayout->addLayout(row, 1);

    sendEdit_ = named(new SendEdit(this), "sendEdit");
    paintBackground(sendEdit_, palette().color(QPalette::Light), {QPalette::Base});
    sendEdit_->setKeyRule([this](QChar c) { return acceptsKey(c); });
    row->addWidget(sendEdit_, 1);

    optionsPanel_ = named(new QWidget(this), "optionsPanel");
    optionsPanel_->setFixedWidth(157);
    paintBackground(optionsPanel_, Colours::Cream);
    auto *optionsLayout = new QVBoxLayout(optionsPanel_);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    auto *options = new QWidget(optionsPanel_);
    options->setMinimumHeight(150);
    optionsLayout->addWidget(options, 1);
    sendButton_ = named(button(options, tr("发送数据"), 24, 1, 93, 25), "sendButton");
    repeatCountLabel_ = named(label(options, tr("重复发送次数       "), 24, 40), "repeatCountLabel");
    repeatCountBox_ = named(new RepeatCountBox(options), "repeatCountBox");
    repeatCountBox_->addItems({"1", "10", "100", "1000", "10000"});
    repeatCountBox_->setEditText(QStringLiteral("1"));
    repeatCountBox_->setGeometry(24, 60, 97, 21);
    // Names the box for assistive technologies.
    repeatCountLabel_->setBuddy(repeatCountBox_);
    intervalLabel_ = named(label(options, tr("间隔(ms)"), 16, 104), "intervalLabel");
    intervalEdit_ = named(new QLineEdit(QStringLiteral("1000"), options), "intervalEdit");
    intervalEdit_->setGeometry(69, 101, 48, 21);
    intervalLabel_->setBuddy(intervalEdit_);
    startTimerButton_ = named(button(options, tr("定时发送"), 8, 124, 57, 23), "startTimerButton");
    stopTimerButton_ = named(button(options, tr("停止定时发送"), 72, 124, 81, 22), "stopTimerButton");
    countersBar_ = named(new QStatusBar(optionsPanel_), "countersBar");
    countersBar_->setFixedHeight(19);
    countersBar_->setSizeGripEnabled(false);
    paintBackground(countersBar_, Colours::Cream);
    countersLabel_ = named(new QLabel(countersBar_), "countersLabel");
    countersLabel_->setMinimumWidth(100);
    countersBar_->addWidget(countersLabel_, 1);
    optionsLayout->addWidget(countersBar_);
    row->addWidget(optionsPanel_);

    modeBar_ = named(new QGroupBox(this), "modeBar");
    modeBar_->setFixedHeight(41);
    paintBackground(modeBar_, Colours::Cream);
    hexSwitch_ = named(new QCheckBox(tr("十六进制格式"), modeBar_), "hexSwitch");
    hexSwitch_->setGeometry(8, 16, 145, 17);
    // In the free stretch between the hex switch's caption and the reset
    // button, so nothing that was there moves.
    autoReplySwitch_ = named(new QCheckBox(tr("自动应答"), modeBar_), "autoReplySwitch");
    autoReplySwitch_->setGeometry(165, 16, 80, 17);
    replyRulesButton_ = named(button(modeBar_, tr("规则..."), 250, 10, 64, 25), "replyRulesButton");
    resetCountersButton_ = named(button(modeBar_, tr("统计清零"), 371, 10, 80, 25), "resetCountersButton");
    sendLayout->addWidget(modeBar_);

    connect(hexSwitch_, &QCheckBox::clicked, this, [this] { Guarded([this] { updateTitle(); }); });
    connect(hexSwitch_, &QCheckBox::toggled, this, &SendPanel::hexModeToggled);
    connect(sendButton_, &QPushButton::clicked, this, &SendPanel::sendClicked);
    connect(sendEdit_, &SendEdit::sendFileClicked, this, &SendPanel::sendFileClicked);
    connect(autoReplySwitch_, &QCheckBox::toggled, this, &SendPanel::autoReplyToggled);
    connect(replyRulesButton_, &QPushButton::clicked, this, &SendPanel::replyRulesClicked);
    connect(startTimerButton_, &QPushButton::clicked, this, &SendPanel::startTimerClicked);
    connect(stopTimerButton_, &QPushButton::clicked, this, &SendPanel::stopTimerClicked);
    connect(resetCountersButton_, &QPushButton::clicked, this, &SendPanel::resetClicked);
}

bool SendPanel::isHexMode() const
{
    return hexSwitch_->isChecked();
}

QByteArray SendPanel::typedBytes() const
{
    const QString text = sendEdit_->toPlainText();
    return isHexMode() ? HexTextToBytes(text) : SendBoxBytes(text);
}

void SendPanel::clearTyped()
{
    sendEdit_->clear();
}

QString SendPanel::repeatCountText() const
{
    return repeatCountBox_->currentText();
}

QString SendPanel::intervalText() const
{
    return intervalEdit_->text();
}

QString SendPanel::typedText() const
{
    return sendEdit_->toPlainText();
}

void SendPanel::setTypedText(const QString &text)
{
    if (text != sendEdit_->toPlainText())
        sendEdit_->setPlainText(text);
}

void SendPanel::setHexMode(bool hex)
{
    if (hex == isHexMode())
        return;
    hexSwitch_->setChecked(hex);
    updateTitle();
}

void SendPanel::setRepeatCountText(const QString &text)
{
    if (text != repeatCountBox_->currentText())
        repeatCountBox_->setEditText(text);
}

void SendPanel::setIntervalText(const QString &text)
{
    if (text != intervalEdit_->text())
        intervalEdit_->setText(text);
}

void SendPanel::showCounters(const QString &line)
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
    if (optionsPanel_->width() != width)
        optionsPanel_->setFixedWidth(width);
}

void SendPanel::updateTitle()
{
    setTitle(isHexMode() ? tr("数据发送窗口[HEX模式]") : tr("数据发送窗口(文本模式)"));
    // The send box is named by this title.
    if (QAccessible::isActive()) {
        QAccessibleEvent event(sendEdit_, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

bool SendPanel::acceptsKey(QChar key) const
{
    return !isHexMode() || IsHexKey(key);
}

void SendPanel::showAutoReply(bool shown)
{
    autoReplySwitch_->setVisible(shown);
    replyRulesButton_->setVisible(shown);
}

bool SendPanel::isAutoReplyOn() const
{
    return autoReplySwitch_->isChecked();
}

void SendPanel::setAutoReplyOn(bool on)
{
    autoReplySwitch_->setChecked(on);
}
