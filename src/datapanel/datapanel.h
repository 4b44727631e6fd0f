#pragma once
// The data window: one per endpoint, a document inside the main window's MDI
// area, with the status panel, the log, the send box, the send options and the
// counters. It refers to its endpoint record (Endpoint) but does not own it;
// whoever removes the endpoint destroys the window with Destroy(). UI thread
// only.

#include <QPlainTextEdit>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QPushButton;
class QStatusBar;
class QTimer;
class TLogView;
class TMySocket;

// The send box: in hex mode it swallows every typed character but
// hexadecimal digits and backspace.
class TSendBox : public QPlainTextEdit {
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<bool(QChar)> keyFilter; // false swallows the character

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

class TFrmData : public QWidget {
    Q_OBJECT

public:
    // With an area the window becomes one of its documents, shown maximised.
    explicit TFrmData(QMdiArea *area = nullptr);
    ~TFrmData() override;

    qint64 SendBytes = 0;
    qint64 RecvBytes = 0;
    TMySocket *Endpoint = nullptr;

    // Status panel
    QGroupBox *GroupBox1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6;
    QPushButton *Button5, *Button6;
    QCheckBox *ckwebsvr;
    // Receive area
    QWidget *Panel2, *Panel4;
    QGroupBox *GroupBox3;
    QPlainTextEdit *Memo2;
    // Send area
    QGroupBox *GroupBox2;
    QWidget *Panel6;
    QPushButton *Button11;
    QLabel *Label7;
    QComboBox *ComboBox2;
    QLabel *Label8;
    QLineEdit *Edit1;
    QPushButton *suiButton1, *suiButton2;
    QStatusBar *StatusBar2;
    TSendBox *Memo3;
    QGroupBox *GroupBox8;
    QCheckBox *CheckBox2;
    QPushButton *Button2;
    QTimer *Timer1;

    [[nodiscard]] bool HexMode() const;

    // The receive logging steps: log line, RecvBytes, counters line.
    void LogReceived(const QByteArray &data);
    // Every log line and counters update goes through these two; the view
    // catches up in batches (FlushLog brings it up to date at once).
    void AppendLog(const QString &line);
    void WriteCounters();
    void FlushLog();

    [[nodiscard]] QString CountersText() const;

    void CheckBox2Click();
    [[nodiscard]] bool Memo3KeyPress(QChar key) const;

    // Shows the window and brings it in front of the other documents.
    void BringToFront();
    // Destroys the window (and its MDI frame) once control is back in the
    // event loop, so a handler of the window may call it.
    void Destroy();
    [[nodiscard]] QMdiSubWindow *Frame() const { return frame_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildStatusPanel();
    void buildReceiveArea();
    void buildSendArea();

    QLabel *countersPanel_ = nullptr;
    TLogView *log_ = nullptr;
    QMdiSubWindow *frame_ = nullptr;
};
