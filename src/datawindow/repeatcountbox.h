#pragma once
// An editable box with a drop-down list of suggestions, for the repeat count.
// It reads and writes like an editable combo box but builds its list only when
// it is opened: a full combo box costs a data window some 40 KB and most of a
// millisecond, and a server may hold a thousand windows. Assistive
// technologies see an editable combo box, and Alt+Down or F4 opens the list
// as a combo box's. UI thread only.

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QMenu;
class QToolButton;

class RepeatCountBox : public QWidget {
    Q_OBJECT

public:
    explicit RepeatCountBox(QWidget *parent = nullptr);

    [[nodiscard]] QString currentText() const;
    void setEditText(const QString &text);
    void addItems(const QStringList &items) { items_ += items; }
    [[nodiscard]] int count() const { return int(items_.size()); }
    [[nodiscard]] QString itemText(int index) const { return items_.value(index); }
    [[nodiscard]] QLineEdit *lineEdit() const { return edit_; }
    // Opens the list of suggestions under the box and returns at once.
    void showPopup();
    [[nodiscard]] bool isPopupShown() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *edit_;
    QToolButton *button_;
    QStringList items_;
    QPointer<QMenu> popup_;
};
