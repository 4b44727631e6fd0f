#pragma once
// The information panel that covers the document area while no endpoint
// exists: two product strips and a vendor strip whose pictures and titles open
// web pages, plus the two hidden texts of the web-service reply. Owned by the
// main window; UI thread only.

#include <QWidget>

class QLabel;
class QPlainTextEdit;

// Registers the compiled-in pictures; safe to call more than once.
void InitPictures();

class TInfoPanel : public QWidget {
    Q_OBJECT

public:
    explicit TInfoPanel(QWidget *parent = nullptr);

    QWidget *Panel5, *Panel4, *Panel6;
    QLabel *Image1, *Image2, *Image3;
    QLabel *Label1, *Label2, *Label3;
    QPlainTextEdit *Memo1, *Memo2;
    QPlainTextEdit *WebStr1, *WebStr2; // header lines and page of the web reply

    static const QString ProductPage1;
    static const QString ProductPage2;
    static const QString HomePage;

    void Label1Click();
    void Image1Click();
    void Label2Click();
    void Image2Click();
    void Label3Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *productStrip(QLabel *&image, QLabel *&title, QPlainTextEdit *&features, const QString &picture,
        const QString &heading, const QStringList &lines);
};
