#include "datawindow/statuspanel.h"

#include "core/errors.h"
#include "datawindow/layouthelpers.h"
#include "ui/elidedlabel.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace layout_helpers;

StatusPanel::StatusPanel(QWidget *parent)
    : QGroupBox(tr("Socket状态"), parent)
{
    setObjectName(QStringLiteral("statusPanel"));
    setFixedHeight(81);
    paintBackground(this, Colours::Cream);
    // "linkstatus", "Label3" and the like are the captions the labels show
    // until the first status fills them, kept as the window always had them.
    stateLabel_ = named(label(this, QStringLiteral("linkstatus"), 16, 24, 73), "stateLabel");
    createdLabel_ = named(label(this, QString(), 96, 24), "createdLabel");
    createdLabel_->hide();
    peerAddressLabel_ = named(label(this, QStringLiteral("Label3"), 232, 24, 129), "peerAddressLabel");
    peerPortLabel_ = named(label(this, QStringLiteral("Label4"), 365, 24, 132), "peerPortLabel");
    // A device path can be longer than this place; the label shortens it.
    spareLabel_ = named(new ElidedLabel(QStringLiteral("Label5"), this), "spareLabel");
    spareLabel_->setGeometry(232, 56, 129, 17);
    localPortLabel_ = named(label(this, QStringLiteral("Label6"), 367, 56, 129), "localPortLabel");
    startButton_ = named(button(this, QString(), 16, 48, 80, 27), "startButton");
    startButton_->hide();
    stopButton_ = named(button(this, QString(), 104, 48, 80, 27), "stopButton");
    stopButton_->hide();
    webReplySwitch_ = named(new QCheckBox(tr("启动Web服务"), this), "webReplySwitch");
    webReplySwitch_->setGeometry(96, 0, 97, 17);
    fitCaption(webReplySwitch_, webReplySwitch_->text());
    webReplySwitch_->hide();
    connect(webReplySwitch_, &QCheckBox::toggled, this, &StatusPanel::webReplyToggled);

    connect(startButton_, &QPushButton::clicked, this, &StatusPanel::startClicked);
    stopButton_->installEventFilter(this);
    // A mouse stops on the release alone; the keyboard (Space) and assistive
    // technologies' press action only click, and stop by the click.
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        if (!mouseReleaseHandled_)
            emit stopReleased();
    });
}

void StatusPanel::showContent(const Content &content)
{
    if (content.state)
        stateLabel_->setText(*content.state);
    createdLabel_->setText(content.created);
    peerAddressLabel_->setText(content.peerAddress);
    peerPortLabel_->setText(content.peerPort);
    spareLabel_->setText(content.spare);
    // The label keeps its narrow place; a long device path reads whole here.
    spareLabel_->setToolTip(content.spare);
    localPortLabel_->setText(content.localPort);
    if (content.startCaption)
        startButton_->setText(*content.startCaption);
    if (content.stopCaption)
        stopButton_->setText(*content.stopCaption);
    startButton_->setVisible(content.startVisible);
    stopButton_->setVisible(content.stopVisible);
    if (content.running) {
        startButton_->setEnabled(!*content.running);
        stopButton_->setEnabled(*content.running);
    }
}

void StatusPanel::showWebReplySwitch()
{
    webReplySwitch_->setVisible(true);
}

bool StatusPanel::isWebReplyOn() const
{
    return webReplySwitch_->isChecked();
}

void StatusPanel::setWebReplyOn(bool on)
{
    webReplySwitch_->setChecked(on);
}

bool StatusPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == stopButton_ && event->type() == QEvent::MouseButtonRelease && stopButton_->isEnabled()) {
        // The button's own click, if any, follows within this release.
        mouseReleaseHandled_ = true;
        QTimer::singleShot(0, this, [this] { mouseReleaseHandled_ = false; });
        emit stopReleased();
        return false;
    }
    return QGroupBox::eventFilter(watched, event);
}
