#pragma once
// The top strip of a data window: the endpoint's state word, when it was
// made, its peer (or group) address and port, its local port, the start and
// stop buttons and the web reply switch. It shows whatever content its owner
// gives it and reports the buttons through signals; it knows no endpoint.
// Owned by its data window; UI thread only.

#include <QGroupBox>

#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

class StatusPanel : public QGroupBox {
    Q_OBJECT

public:
    // What the strip shows. An empty optional leaves that part as it is.
    struct Content {
        std::optional<QString> state;
        QString created, peerAddress, peerPort, spare, localPort;
        std::optional<QString> startCaption, stopCaption;
        bool startVisible = false;
        bool stopVisible = false;
        // Running enables stop and disables start; stopped the other way.
        std::optional<bool> running;
        bool operator==(const Content &) const = default;
        // Takes in what showing `newer` after this would leave on the strip.
        void takeIn(const Content &newer);
    };

    explicit StatusPanel(QWidget *parent);

    void showContent(const Content &content);
    void showWebReplySwitch();
    [[nodiscard]] bool isWebReplyOn() const;

signals:
    void startClicked();
    // Stopping follows the release of any mouse button on the enabled stop
    // button, not a click.
    void stopReleased();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *stateLabel_, *createdLabel_, *peerAddressLabel_, *peerPortLabel_, *spareLabel_, *localPortLabel_;
    QPushButton *startButton_, *stopButton_;
    QCheckBox *webReplySwitch_;
};
