#pragma once
// The modem lines of an open serial port, in one row: DTR and RTS as
// switches the user sets, the levels of CTS, DSR, DCD and RI as they were
// last told, and a button that sends a break. The strip publishes what the
// user asks for and shows what it is told; it touches no port. Each level
// is drawn as a filled or hollow mark besides its colour and is named to
// assistive technologies with "开" or "关" as its description. Owned by its
// data window; UI thread only.

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

class ModemLinesStrip : public QWidget {
    Q_OBJECT

public:
    enum class State {
        Closed, // nothing to act on: every control disabled
        OpenWithoutModemLines, // a pseudo-terminal: only the break works
        Open,
    };

    explicit ModemLinesStrip(QWidget *parent = nullptr);

    void setState(State state);
    [[nodiscard]] State state() const { return state_; }

    // The levels the port reports; shown while the state is Open.
    void showLines(bool cts, bool dsr, bool dcd, bool ri);
    // The levels DTR and RTS hold, without telling anyone: the port's own
    // answer to a toggle, or its setup when it opens.
    void showOutputLines(bool dtr, bool rts);

signals:
    void dtrToggled(bool on);
    void rtsToggled(bool on);
    void breakRequested();

private:
    QLabel *addIndicator(const char *name, const QString &caption, const QString &meaning);
    void showLevel(QLabel *indicator, bool on);
    void applyState();

    QCheckBox *dtrSwitch_, *rtsSwitch_;
    QLabel *ctsIndicator_, *dsrIndicator_, *dcdIndicator_, *riIndicator_;
    QPushButton *breakButton_;
    State state_ = State::Closed;
};
