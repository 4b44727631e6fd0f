#pragma once
// A serial endpoint's modem lines as its window shows them, and what the
// window asks of them: DTR and RTS switched, a break sent. The endpoint
// reports the device's lines here and carries out the requests; the window
// shows and asks, and knows no device. Owned by the endpoint's session; UI
// thread only.

#include <QObject>

class SerialLines : public QObject {
    Q_OBJECT

public:
    // Closed: the device is not open. OpenWithoutLines: it is, but has no
    // modem lines (a pseudo-terminal).
    enum class State { Closed, OpenWithoutLines, Open };
    struct Levels {
        bool dtr = false;
        bool rts = false;
        bool cts = false;
        bool dsr = false;
        bool dcd = false;
        bool ri = false;
        bool operator==(const Levels &) const = default;
    };

    using QObject::QObject;

    [[nodiscard]] State state() const { return state_; }
    [[nodiscard]] Levels levels() const { return levels_; }
    // The endpoint's side: changed() only when something did.
    void show(State state, Levels levels);

    // The window's side.
    void requestDtr(bool on) { emit dtrRequested(on); }
    void requestRts(bool on) { emit rtsRequested(on); }
    void requestBreak() { emit breakRequested(); }

signals:
    void changed();
    void dtrRequested(bool on);
    void rtsRequested(bool on);
    void breakRequested();

private:
    State state_ = State::Closed;
    Levels levels_;
};
