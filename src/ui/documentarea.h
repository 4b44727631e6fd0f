#pragma once
// The document area of the main window: every data window is a document shown
// maximised, one in front at a time, under a caption strip whose close box
// minimises the front document (it stays alive and comes back when its
// endpoint is selected). Documents are children of the area; destroying one
// removes it. Unlike a full multi-document area it costs nothing per document
// beyond the document itself, so a thousand of them come and go quickly. Its
// widgets are its own; each has an objectName equal to its member's name
// without the trailing underscore. UI thread only.

#include <QPointer>
#include <QWidget>

#include <vector>

class QLabel;
class QToolButton;

class DocumentArea : public QWidget {
    Q_OBJECT

public:
    explicit DocumentArea(QWidget *parent = nullptr);

    // Takes the document in and shows it in front.
    void addDocument(QWidget *document);
    // Shows the document in front, restoring it if it was minimised.
    void activate(QWidget *document);
    // Takes the document out of view; the most recent other one shows.
    void minimize(QWidget *document);
    // Forgets a document that is about to be destroyed.
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
    void showFront();
    void forget(const QWidget *document);
    [[nodiscard]] bool contains(const QWidget *document) const;

    QLabel *caption_;
    QToolButton *minimizeButton_; // minimises the front document
    // Holds the documents; only the front one is visible, filling it. (A
    // stacked layout would touch every document on each switch.)
    QWidget *host_;
    QPointer<QWidget> shown_;
    // Every document taken in and not removed, and, front to back, those in
    // view (minimised ones are not in it).
    std::vector<QPointer<QWidget>> documents_;
    std::vector<QPointer<QWidget>> order_;
    // Context of the documents' destroyed connections: it goes before the
    // members do, so documents dying with the area call back into nothing.
    QObject watcher_;
};
