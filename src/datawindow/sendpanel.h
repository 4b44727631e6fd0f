#pragma once
// The lower part of a data window: the send box, the send button with its
// repeat count, timed sending with its interval, the byte counters, the hex
// switch and the counters reset. It holds what the user typed and chose and
// reports the buttons through signals; the window does the sending. Owned by
// its data window; UI thread only.

#include "ui/plaintextbox.h"

#include <QGroupBox>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class RepeatCountBox;

// The send box: in hex mode it swallows every typed character but
// hexadecimal digits and backspace. A box whose cost stays linear in its
// text, because hex input is one line however long: a wrapping editor took
// seconds for a 400,000-character line and minutes for a 10 MB paste.
class SendEdit : public PlainTextBox {
    Q_OBJECT

public:
    using PlainTextBox::PlainTextBox;
    // Asked for each typed character; false swallows it.
    void setKeyRule(std::function<bool(QChar)> rule) { keyRule_ = std::move(rule); }

signals:
    void sendFileClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void addContextActions(QMenu *menu) override;

private:
    std::function<bool(QChar)> keyRule_;
};

class SendPanel : public QGroupBox {
    Q_OBJECT

public:
    explicit SendPanel(QWidget *parent);

    [[nodiscard]] bool isHexMode() const;
    // The bytes the send box stands for in the present mode.
    [[nodiscard]] QByteArray typedBytes() const;
    void clearTyped();
    [[nodiscard]] QString repeatCountText() const;
    [[nodiscard]] QString intervalText() const;
    // What the session's setup holds; a text that is already shown stays
    // untouched (cursor and undo included).
    [[nodiscard]] QString typedText() const;
    void setTypedText(const QString &text);
    void setHexMode(bool hex);
    void setRepeatCountText(const QString &text);
    void setIntervalText(const QString &text);

    void showCounters(const QString &line);

    void updateTitle();
    [[nodiscard]] bool acceptsKey(QChar key) const;

    // The automatic reply controls; an accepted peer's window answers by its
    // server's rules and shows none.
    void showAutoReply(bool shown);
    [[nodiscard]] bool isAutoReplyOn() const;
    void setAutoReplyOn(bool on);

signals:
    void sendClicked();
    void hexModeToggled(bool hex);
    void sendFileClicked();
    void autoReplyToggled(bool on);
    void replyRulesClicked();
    void startTimerClicked();
    void stopTimerClicked();
    void resetClicked();

private:
    SendEdit *sendEdit_;
    QWidget *optionsPanel_;
    QPushButton *sendButton_;
    QLabel *repeatCountLabel_;
    RepeatCountBox *repeatCountBox_; // editable repeat count with suggestions
    QLabel *intervalLabel_;
    QLineEdit *intervalEdit_;
    QPushButton *startTimerButton_, *stopTimerButton_;
    QStatusBar *countersBar_;
    QLabel *countersLabel_;
    QGroupBox *modeBar_;
    QCheckBox *hexSwitch_;
    QCheckBox *autoReplySwitch_;
    QPushButton *replyRulesButton_;
    QPushButton *resetCountersButton_;
};
