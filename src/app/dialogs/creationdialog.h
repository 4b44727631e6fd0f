#pragma once
// What the five creation dialogs share: the cream window, rows of a label and
// an edit box, and the OK ("确定") and cancel ("取消") buttons. OK runs the
// dialog's acceptInput inside the exception guard, so a port box that does
// not hold a whole number shows the conversion error and leaves the dialog
// open. The dialogs live for the whole program and keep what was typed.
// UI thread only.

#include <QDialog>

class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

class CreationDialog : public QDialog {
    Q_OBJECT

public:
    enum Result { Created = 1, Cancelled = 2 };

    virtual void acceptInput() = 0;
    void cancel();

    // Closing by the title bar cancels as the cancel button does.
    void reject() override;

protected:
    CreationDialog(const QString &caption, int width, int height, QWidget *parent);

    QLineEdit *addField(const QString &label, const QString &text, QLabel **labelOut = nullptr);
    // The buttons' row, built last; cancelName names the cancel button.
    QPushButton *addButtons();

    QFormLayout *fields_;

private:
    QPushButton *okButton_; // OK
    QHBoxLayout *buttonRow_ = nullptr;
};
