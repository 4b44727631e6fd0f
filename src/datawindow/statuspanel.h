#pragma once
// The top strip of a data window: the endpoint's state word, when it was
// made, its peer (or group) address and port, its local port, the start and
// stop buttons and the web reply switch. It shows whatever content its owner
// gives it and reports the buttons through signals; it knows no endpoint.
// Owned by its data window; UI thread only.

#include "session/statuscontent.h"

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QPushButton;

class StatusPanel : public QGroupBox {
    Q_OBJECT

public:
    // What the strip shows; the engine computes it.
    using Content = StatusContent;

    explicit StatusPanel(QWidget *parent);

    void showContent(const Content &content);
    void showWebReplySwitch();
    [[nodiscard]] bool isWebReplyOn() const;
    void setWebReplyOn(bool on);

signals:
    void startClicked();
    void webReplyToggled(bool on);
    // Stopping follows the release of any mouse button on the enabled stop
    // button, not a click; from the keyboard, its click.
    void stopReleased();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *stateLabel_, *createdLabel_, *peerAddressLabel_, *peerPortLabel_, *spareLabel_, *localPortLabel_;
    QPushButton *startButton_, *stopButton_;
    bool mouseReleaseHandled_ = false; // until this release's dispatch ends
    QCheckBox *webReplySwitch_;
};
