#pragma once
// The strip at the foot of a data window: the receive and send rates over the
// last second while traffic flows, and the progress of a long task (a file
// being sent, a long repeat) with a button that ends it. It shows what its
// window tells it and reports the button; it measures nothing itself. Owned
// by its data window; UI thread only.

#include <QStatusBar>

class QLabel;
class QProgressBar;
class QPushButton;

class ActivityBar : public QStatusBar {
    Q_OBJECT

public:
    explicit ActivityBar(QWidget *parent);

    void showRates(qint64 receivedPerSecond, qint64 sentPerSecond);
    void clearRates();
    [[nodiscard]] QString ratesText() const;

    // A task under way: what it is and how far it got, `done` of `total`.
    void showProgress(const QString &text, qint64 done, qint64 total);
    void hideProgress();
    [[nodiscard]] bool isProgressShown() const;
    [[nodiscard]] QString progressText() const;

signals:
    void cancelClicked();

private:
    QLabel *ratesLabel_;
    QLabel *progressLabel_;
    QProgressBar *progressBar_;
    QPushButton *cancelButton_;
};
