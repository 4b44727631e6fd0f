#pragma once
// A status strip in the free right part of the receive box's title row: the
// receive and send rates over the last second while traffic flows, and the
// progress of a long task (a file being sent, a long repeat) with a button
// that ends it. It sits over space nothing else uses, so no control of the
// window moves or shrinks for it. It shows what its window tells it and
// reports the button; it measures nothing itself. Owned by its data window;
// UI thread only.

#include <QWidget>

class QLabel;
class QProgressBar;
class QToolButton;

class ActivityBar : public QWidget {
    Q_OBJECT

public:
    explicit ActivityBar(QWidget *parent);

    void showRates(qint64 receivedPerSecond, qint64 sentPerSecond);
    void clearRates();
    [[nodiscard]] QString ratesText() const;

    // A task under way: what it is and how far it got, `done` of `total`.
    // In text, %1 stands for name (a file's), which is shortened in the
    // middle when the whole does not fit, so that the figures stay readable.
    void showProgress(const QString &text, qint64 done, qint64 total, const QString &name = QString());
    void hideProgress();
    [[nodiscard]] bool isProgressShown() const;
    [[nodiscard]] QString progressText() const;

signals:
    void cancelClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitProgressText();

    QLabel *ratesLabel_;
    QLabel *progressLabel_;
    QProgressBar *progressBar_;
    QToolButton *cancelButton_;
    QString progressTemplate_;
    QString progressName_;
};
