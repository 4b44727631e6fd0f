#pragma once
// The data window: one per endpoint, a document inside the main window's
// document area, with the status panel, the log, the send box, the send options and the
// counters. It refers to its endpoint record (attachedEndpoint) but does not own it;
// whoever removes the endpoint destroys the window with destroyLater(). UI thread
// only.

#include "ui/logview.h"
#include "ui/plaintextbox.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTimer;
class RepeatCountBox;
class TcpConnection;
class DocumentArea;
class LogView;
class LogFeed;
class Endpoint;
class UdpSocket;

// The send box: in hex mode it swallows every typed character but
// hexadecimal digits and backspace. A box whose cost stays linear in its
// text, because hex input is one line however long: a wrapping editor took
// seconds for a 400,000-character line and minutes for a 10 MB paste.
class SendEdit : public PlainTextBox {
    Q_OBJECT

public:
    using PlainTextBox::PlainTextBox;
    std::function<bool(QChar)> keyFilter; // false swallows the character

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

class DataWindow : public QWidget {
    Q_OBJECT

public:
    // With an area the window becomes one of its documents, shown in front.
    explicit DataWindow(DocumentArea *area = nullptr);
    ~DataWindow() override;

    qint64 sentBytes = 0;
    qint64 receivedBytes = 0;
    Endpoint *attachedEndpoint = nullptr;

    // Status panel
    QGroupBox *statusBox;
    QLabel *stateLabel, *createdLabel, *peerAddressLabel, *peerPortLabel, *spareLabel, *localPortLabel;
    QPushButton *startButton, *stopButton;
    QCheckBox *webReplySwitch;
    // Receive area
    QWidget *body, *receiveArea;
    QGroupBox *receiveBox;
    LogView *logView; // the log
    // Send area
    QGroupBox *sendBox;
    QWidget *optionsPanel;
    QPushButton *sendButton;
    QLabel *repeatCountLabel;
    RepeatCountBox *repeatCountBox; // editable repeat count with suggestions
    QLabel *intervalLabel;
    QLineEdit *intervalEdit;
    QPushButton *startTimerButton, *stopTimerButton;
    QStatusBar *countersBar;
    SendEdit *sendEdit;
    QGroupBox *modeBar;
    QCheckBox *hexSwitch;
    QPushButton *resetCountersButton;
    QTimer *timer;

    [[nodiscard]] bool isHexMode() const;

    // The receive logging steps: log line, receivedBytes, counters line.
    void logReceived(const QByteArray &data);
    // Every log line and counters update goes through these two; the view
    // catches up in batches (flushLog brings it up to date at once).
    void appendLogLine(const QString &line);
    void updateCounters();
    void flushLog();

    [[nodiscard]] QString countersText() const;

    void updateSendBoxTitle();
    [[nodiscard]] bool acceptsKey(QChar key) const;

    // Sending: the send button, the one-off send through the endpoint, and
    // the timer. Each loop that processes events stops when the window or its
    // endpoint goes away, or when the user stops timed sending.
    void sendTyped();
    // Sends the bytes once through the endpoint; returns how many bytes count
    // as sent.
    qint64 sendToPeer(const QByteArray &data);
    static void sendDatagram(UdpSocket &udp, const QByteArray &data);
    // False when the datagram did not go out whole (the boxes are shown).
    static bool sendGroupDatagram(Endpoint &group, const QByteArray &data);
    void startTimedSending();
    void stopTimedSending();
    // Ends timed sending and any repeat, pause or wait for a slow peer in
    // progress; what was not handed to the transport is noted in the log.
    void endSending();
    void sendOnTimer();
    void resetCounters();

    // The endpoint's start and stop buttons.
    void startEndpoint();
    void stopEndpoint();

    // A datagram waits on the group endpoint's socket.
    void readGroupDatagram();

    // Shows the window and brings it in front of the other documents.
    void bringToFront();
    // Destroys the window once control is back in the event loop, so a
    // handler of the window may call it.
    void destroyLater();
    [[nodiscard]] DocumentArea *documentArea() const { return area_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // Sending was stopped, or the window is going away.
    void sendingEnded();
    // The stop button was released: the owner stops this window's endpoint.
    void stopRequested();

private:
    void buildStatusPanel();
    void buildReceiveArea();
    void buildSendArea();
    void connectHandlers();

    // The bytes the send box stands for in the present mode.
    [[nodiscard]] QByteArray typedBytes() const;
    struct SendResult {
        qint64 counted = 0; // bytes the transport took
        bool failed = false; // an error that ends a repeat
    };
    enum class RepeatOutcome { Completed, Stopped, Failed, WindowGone };
    enum class UnsentReason { ConnectionGone, ConnectionBusy, PeerNotReading, Stopped };

    SendResult sendOnce(const QByteArray &data, quint64 generation);
    // Hands the data to each connection as it takes it, handling events while
    // one waits for room. Ends early when the window or its endpoint goes
    // away or sending is stopped; with giveUpOnStall a connection that takes
    // nothing for a while is given up. What was not sent is logged.
    SendResult sendTcp(const std::vector<TcpConnection *> &connections, const QByteArray &data,
        quint64 generation, bool giveUpOnStall);
    void noteUnsent(qint64 unsent, qint64 total, UnsentReason reason);
    // Sends the data `count` times, handling events between the sendings and
    // pausing `pauseMs()` after each when given. After WindowGone touch
    // nothing of the window.
    RepeatOutcome repeat(const QByteArray &data, int count, const std::function<int()> &pauseMs);
    // False when the pause was cut short by stop or by the application
    // quitting.
    bool pauseBetweenSends(int ms);
    [[nodiscard]] bool repeatsStopped(quint64 generation) const { return stopGeneration_ != generation; }
    void applyTimer();
    void showCounters(const QString &line);

    int sendsRunning_ = 0; // repeats of this window under way, nested ones included

    bool timerOn_ = false;
    int timerInterval_ = 1000;
    quint64 stopGeneration_ = 0;

    QLabel *countersLabel_ = nullptr;
    LogFeed *log_ = nullptr;
    DocumentArea *area_ = nullptr;
};
