#include "datawindow/activitybar.h"

#include "core/logtexts.h"
#include "datawindow/layouthelpers.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using namespace layout_helpers;

ActivityBar::ActivityBar(QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("activityBar"));
    setSizeGripEnabled(false);
    paintBackground(this, Colours::Cream);
    ratesLabel_ = named(new QLabel(this), "ratesLabel");
    addWidget(ratesLabel_, 1);
    progressLabel_ = named(new QLabel(this), "progressLabel");
    progressBar_ = named(new QProgressBar(this), "progressBar");
    progressBar_->setRange(0, 1000);
    progressBar_->setFixedWidth(90);
    progressBar_->setMaximumHeight(14);
    progressBar_->setTextVisible(false);
    cancelButton_ = named(new QPushButton(QStringLiteral("取消"), this), "cancelButton");
    cancelButton_->setMaximumHeight(18);
    addPermanentWidget(progressLabel_);
    addPermanentWidget(progressBar_);
    addPermanentWidget(cancelButton_);
    hideProgress();
    connect(cancelButton_, &QPushButton::clicked, this, &ActivityBar::cancelClicked);
}

void ActivityBar::showRates(qint64 receivedPerSecond, qint64 sentPerSecond)
{
    ratesLabel_->setText(QStringLiteral("速率 收：") + ByteSizeText(receivedPerSecond)
        + QStringLiteral("/s，发：") + ByteSizeText(sentPerSecond) + QStringLiteral("/s"));
}

void ActivityBar::clearRates()
{
    ratesLabel_->clear();
}

QString ActivityBar::ratesText() const
{
    return ratesLabel_->text();
}

void ActivityBar::showProgress(const QString &text, qint64 done, qint64 total)
{
    progressLabel_->setText(text);
    progressBar_->setValue(total > 0 ? int(std::min<qint64>(done, total) * 1000 / total) : 1000);
    progressLabel_->show();
    progressBar_->show();
    cancelButton_->show();
}

void ActivityBar::hideProgress()
{
    progressLabel_->clear();
    progressLabel_->hide();
    progressBar_->hide();
    cancelButton_->hide();
}

bool ActivityBar::isProgressShown() const
{
    return !progressBar_->isHidden();
}

QString ActivityBar::progressText() const
{
    return progressLabel_->text();
}
