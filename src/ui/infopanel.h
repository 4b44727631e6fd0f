#pragma once
// The information panel that covers the document area while no endpoint
// exists: two product strips and a vendor strip whose pictures and titles open
// web pages. Its widgets are its own; each has an objectName equal to its
// member's name without the trailing underscore. Owned by the main window; UI
// thread only.

#include <QWidget>

class QLabel;
class QPlainTextEdit;

// Registers the compiled-in pictures; safe to call more than once.
void InitPictures();

class InfoPanel : public QWidget {
    Q_OBJECT

public:
    explicit InfoPanel(QWidget *parent = nullptr);

    static const QString TcpPage;
    static const QString UdpPage;
    static const QString HomePage;

    void openTcpPage();
    void openUdpPage();
    void openHomePage();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *productStrip(QLabel *&image, QLabel *&title, QPlainTextEdit *&features, const QString &picture,
        const QString &heading, const QStringList &lines);

    QWidget *tcpStrip_, *udpStrip_, *vendorStrip_;
    QLabel *tcpPicture_, *udpPicture_, *vendorLogo_;
    QLabel *tcpTitle_, *udpTitle_, *vendorTitle_;
    QPlainTextEdit *tcpFeatures_, *udpFeatures_;
};
