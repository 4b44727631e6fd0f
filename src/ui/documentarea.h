#pragma once
// The document area of the main window: every data window is a document shown
// maximised, one in front at a time, under a caption strip whose close box
// minimises the front document (it stays alive and comes back when its
// endpoint is selected). Documents are children of the area; destroying one
// removes it. Unlike a full multi-document area it costs nothing per document
// beyond the document itself, and taking one in, bringing one to the front or
// removing one takes constant time, so ten thousand of them come and go
// quickly. Documents taken in or removed in a burst change the one on screen
// a few times a second, not once each: a document that never came to the
// screen was never shown. Its widgets are its own; each has an objectName
// equal to its member's name without the trailing underscore. UI thread only.

#include <QPointer>
#include <QWidget>

#include <list>
#include <unordered_map>

class QLabel;
class QToolButton;
class Throttle;

class DocumentArea : public QWidget {
    Q_OBJECT

public:
    explicit DocumentArea(QWidget *parent = nullptr);

    // Takes the document in and puts it in front; it shows at once, or with
    // the next change of the screen when documents arrive in a burst.
    void addDocument(QWidget *document);
    // Shows the document in front at once, restoring it if it was minimised.
    void activate(QWidget *document);
    // Takes the document out of view; the most recent other one shows.
    void minimize(QWidget *document);
    // Forgets a document that is about to be destroyed; the most recent other
    // one shows (in a burst, with the next change of the screen).
    void remove(QWidget *document);

    [[nodiscard]] QWidget *activeDocument() const;
    [[nodiscard]] bool isMinimized(const QWidget *document) const;
    [[nodiscard]] int documentCount() const;

signals:
    // Another document (or none) is now in front.
    void activeDocumentChanged(QWidget *document);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Where a document stands: in view with its place front to back, or
    // minimised.
    struct Place {
        bool inView = false;
        std::list<QWidget *>::iterator inOrder;
    };

    void showFront();
    void putInFront(QWidget *document);
    void forget(const QWidget *document);
    void drop(const QWidget *document);
    [[nodiscard]] bool contains(const QWidget *document) const;

    QLabel *caption_;
    QToolButton *minimizeButton_; // minimises the front document
    // Holds the documents; only the front one is visible, filling it. (A
    // stacked layout would touch every document on each switch.)
    QWidget *host_;
    QPointer<QWidget> shown_;
    // Every document taken in and not removed (dropped as it is destroyed, so
    // no key outlives its document), and, front to back, those in view.
    std::unordered_map<const QWidget *, Place> documents_;
    std::list<QWidget *> order_;
    Throttle *showFrontSoon_;
    // Context of the documents' destroyed connections: it goes before the
    // members do, so documents dying with the area call back into nothing.
    QObject watcher_;
};
