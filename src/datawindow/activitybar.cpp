#include "datawindow/activitybar.h"

#include "core/logtexts.h"
#include "datawindow/layouthelpers.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

using namespace layout_helpers;

ActivityBar::ActivityBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("activityBar"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addStretch(1);
    ratesLabel_ = named(new QLabel(this), "ratesLabel");
    progressLabel_ = named(new QLabel(this), "progressLabel");
    progressBar_ = named(new QProgressBar(this), "progressBar");
    progressBar_->setRange(0, 1000);
    progressBar_->setFixedSize(60, 10);
    progressBar_->setTextVisible(false);
    cancelButton_ = named(new QToolButton(this), "cancelButton");
    cancelButton_->setText(tr("取消"));
    cancelButton_->setAutoRaise(true);
    cancelButton_->setFixedHeight(16);
    row->addWidget(ratesLabel_);
    row->addWidget(progressLabel_);
    row->addWidget(progressBar_);
    row->addWidget(cancelButton_);
    hideProgress();
    connect(cancelButton_, &QToolButton::clicked, this, &ActivityBar::cancelClicked);
}

void ActivityBar::showRates(qint64 receivedPerSecond, qint64 sentPerSecond)
{
    ratesLabel_->setText(tr("速率 收：") + ByteSizeText(receivedPerSecond) + tr("/s，发：")
        + ByteSizeText(sentPerSecond) + QStringLiteral("/s"));
}

void ActivityBar::clearRates()
{
    ratesLabel_->clear();
}

QString ActivityBar::ratesText() const
{
    return ratesLabel_->text();
}

void ActivityBar::showProgress(const QString &text, qint64 done, qint64 total, const QString &name)
{
    progressTemplate_ = name.isNull() ? QString() : text;
    progressName_ = name;
    progressLabel_->setText(name.isNull() ? text : text.arg(name));
    progressBar_->setValue(total > 0 ? int(std::min<qint64>(done, total) * 1000 / total) : 1000);
    progressLabel_->show();
    progressBar_->show();
    cancelButton_->show();
    ratesLabel_->hide();
    fitProgressText();
}

void ActivityBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitProgressText();
}

void ActivityBar::fitProgressText()
{
    if (progressTemplate_.isEmpty() || progressLabel_->isHidden())
        return;
    const QFontMetrics metrics = progressLabel_->fontMetrics();
    // The stretch, the label, the bar and the button have a spacing between
    // each two of them.
    const int room
        = width() - progressBar_->width() - cancelButton_->sizeHint().width() - 3 * layout()->spacing();
    QString shown = progressTemplate_.arg(progressName_);
    if (metrics.horizontalAdvance(shown) > room) {
        const int figures = metrics.horizontalAdvance(progressTemplate_.arg(QString()));
        shown = progressTemplate_.arg(
            metrics.elidedText(progressName_, Qt::ElideMiddle, std::max(0, room - figures)));
    }
    progressLabel_->setText(shown);
}

void ActivityBar::hideProgress()
{
    progressLabel_->clear();
    progressLabel_->hide();
    progressBar_->hide();
    cancelButton_->hide();
    ratesLabel_->show();
}

bool ActivityBar::isProgressShown() const
{
    return !progressBar_->isHidden();
}

QString ActivityBar::progressText() const
{
    return progressLabel_->text();
}
