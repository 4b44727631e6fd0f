#include "datawindow/modemlinesstrip.h"

#include "datawindow/layouthelpers.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace layout_helpers;

namespace {

// Where the tooltip of a level comes back from after a pseudo-terminal.
const char *const MeaningProperty = "meaning";

} // namespace

ModemLinesStrip::ModemLinesStrip(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("modemLinesStrip"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(10);

    dtrSwitch_ = named(new QCheckBox(QStringLiteral("DTR"), this), "dtrSwitch");
    dtrSwitch_->setProperty(MeaningProperty, tr("数据终端就绪 (DTR)"));
    rtsSwitch_ = named(new QCheckBox(QStringLiteral("RTS"), this), "rtsSwitch");
    rtsSwitch_->setProperty(MeaningProperty, tr("请求发送 (RTS)"));
    row->addWidget(dtrSwitch_);
    row->addWidget(rtsSwitch_);
    row->addSpacing(8);

    ctsIndicator_ = addIndicator("ctsIndicator", QStringLiteral("CTS"), tr("清除发送 (CTS)"));
    dsrIndicator_ = addIndicator("dsrIndicator", QStringLiteral("DSR"), tr("数据设备就绪 (DSR)"));
    dcdIndicator_ = addIndicator("dcdIndicator", QStringLiteral("DCD"), tr("载波检测 (DCD)"));
    riIndicator_ = addIndicator("riIndicator", QStringLiteral("RI"), tr("振铃指示 (RI)"));
    row->addSpacing(8);

    breakButton_ = named(new QPushButton(tr("发送中断"), this), "breakButton");
    breakButton_->setToolTip(tr("将发送线保持在空号电平一段时间 (break)"));
    row->addWidget(breakButton_);
    row->addStretch(1);

    // clicked, not toggled: showOutputLines sets the switches without it
    // being a request.
    connect(dtrSwitch_, &QCheckBox::clicked, this, &ModemLinesStrip::dtrToggled);
    connect(rtsSwitch_, &QCheckBox::clicked, this, &ModemLinesStrip::rtsToggled);
    connect(breakButton_, &QPushButton::clicked, this, &ModemLinesStrip::breakRequested);
    applyState();
}

QLabel *ModemLinesStrip::addIndicator(const char *name, const QString &caption, const QString &meaning)
{
    auto *indicator = named(new QLabel(this), name);
    indicator->setTextFormat(Qt::RichText);
    indicator->setAccessibleName(caption);
    indicator->setProperty(MeaningProperty, meaning);
    layout()->addWidget(indicator);
    return indicator;
}

void ModemLinesStrip::setState(State state)
{
    state_ = state;
    applyState();
}

void ModemLinesStrip::applyState()
{
    const bool open = state_ != State::Closed;
    const bool hasLines = state_ == State::Open;
    dtrSwitch_->setEnabled(hasLines);
    rtsSwitch_->setEnabled(hasLines);
    breakButton_->setEnabled(open);
    for (QLabel *indicator : {ctsIndicator_, dsrIndicator_, dcdIndicator_, riIndicator_}) {
        indicator->setEnabled(hasLines);
        showLevel(indicator, false);
        if (state_ == State::OpenWithoutModemLines)
            indicator->setAccessibleDescription(tr("无此线"));
    }
    const QString noLines = tr("伪终端没有调制解调器控制线");
    for (QWidget *line : std::initializer_list<QWidget *>{
             dtrSwitch_, rtsSwitch_, ctsIndicator_, dsrIndicator_, dcdIndicator_, riIndicator_})
        line->setToolTip(
            state_ == State::OpenWithoutModemLines ? noLines : line->property(MeaningProperty).toString());
}

void ModemLinesStrip::showLines(bool cts, bool dsr, bool dcd, bool ri)
{
    if (state_ != State::Open)
        return;
    showLevel(ctsIndicator_, cts);
    showLevel(dsrIndicator_, dsr);
    showLevel(dcdIndicator_, dcd);
    showLevel(riIndicator_, ri);
}

void ModemLinesStrip::showOutputLines(bool dtr, bool rts)
{
    dtrSwitch_->setChecked(dtr);
    rtsSwitch_->setChecked(rts);
}

void ModemLinesStrip::showLevel(QLabel *indicator, bool on)
{
    // A filled mark for a raised line, a hollow one for a low line, so the
    // level reads without telling the colours apart.
    const QString mark = on ? QStringLiteral("<span style=\"color:#1a7f37\">&#x25CF;</span>")
                            : QStringLiteral("<span style=\"color:#8c8c8c\">&#x25CB;</span>");
    indicator->setText(mark + QLatin1Char(' ') + indicator->accessibleName());
    if (state_ != State::OpenWithoutModemLines)
        indicator->setAccessibleDescription(on ? tr("开") : tr("关"));
}
