#pragma once
// The log view's find bar: a line edit, previous and next, case sensitivity
// and a close box, laid over the top right corner of the view it belongs to,
// so the window's layout stays as it is. Return and F3 ask for the next
// match, Shift with either the previous one, Escape closes the bar. It only
// asks; the view finds and says when nothing matched. A child of the view,
// which owns it; UI thread only.

#include <QFrame>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class LogFindBar : public QFrame {
    Q_OBJECT

public:
    explicit LogFindBar(QWidget *view);

    // Shows the bar with its text selected for typing over.
    void open();
    [[nodiscard]] QString text() const;
    [[nodiscard]] Qt::CaseSensitivity caseSensitivity() const;
    void showNotFound(bool notFound);

signals:
    void findRequested(bool backwards);
    // The text or the case sensitivity changed.
    void termChanged();
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool handleKey(const QKeyEvent &event);
    void closeBar();
    // At the view's top right corner, as wide as the contents need.
    void place();

    QLineEdit *findEdit_;
    QPushButton *previousButton_;
    QPushButton *nextButton_;
    QCheckBox *caseSwitch_;
    QLabel *notFoundLabel_;
    QToolButton *closeButton_;
};
