#include "ui/messages.h"

#include "core/errors.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

MessageRecorder *activeRecorder = nullptr;
ModalScript *activeScript = nullptr;
FileChoiceScript *activeFileChoices = nullptr;

// The boxes' caption. Not the application's display name: Qt appends that to
// the title of every top-level window, dialogs included.
const QString boxCaption = QStringLiteral("Portwright V2.5");

// Boxes and dialogs that nobody owns but us, open when the application's
// loop ends: they go then, rather than outlive the windows they were about.
std::vector<QPointer<QWidget>> &openAtQuit()
{
    static std::vector<QPointer<QWidget>> open;
    return open;
}

void endWithTheLoop(QWidget *widget)
{
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] {
            std::vector<QPointer<QWidget>> open;
            open.swap(openAtQuit());
            for (const QPointer<QWidget> &w : open)
                delete w.data();
        });
    }
    auto &open = openAtQuit();
    open.erase(
        std::remove_if(open.begin(), open.end(), [](const QPointer<QWidget> &w) { return !w; }), open.end());
    open.emplace_back(widget);
}

// One message box on the screen at a time; the rest wait in order.
class BoxLine {
public:
    void tell(QMessageBox::Icon icon, const QString &text, QWidget *parent)
    {
        const auto sameText = [&text](const Waiting &w) { return w.text == text; };
        if ((shown_ && shown_->text() == text) || std::any_of(waiting_.begin(), waiting_.end(), sameText))
            return;
        // Distinct texts without end (an error that names each peer, say)
        // are not worth a click each; the first ones tell what happened.
        if (waiting_.size() >= MaxWaiting)
            return;
        waiting_.push_back({icon, text, parent});
        showNext();
    }

    [[nodiscard]] bool isShown(const QWidget *widget) const { return widget && widget == shown_; }

    void clear() { waiting_.clear(); }

private:
    static constexpr size_t MaxWaiting = 32;

    struct Waiting {
        QMessageBox::Icon icon;
        QString text;
        QPointer<QWidget> parent; // a box outlives a window that went meanwhile
    };

    void showNext()
    {
        if (shown_ || waiting_.empty())
            return;
        const Waiting next = waiting_.front();
        waiting_.pop_front();
        auto *box = new QMessageBox(next.icon, boxCaption, next.text, QMessageBox::Ok, next.parent);
        box->setWindowModality(Qt::ApplicationModal);
        shown_ = box;
        QObject::connect(box, &QDialog::finished, box, [this, box] {
            if (shown_ == box)
                shown_ = nullptr;
            box->deleteLater();
            nextLater();
        });
        // Taken with its parent window before it was answered.
        QObject::connect(box, &QObject::destroyed, qApp, [this] { nextLater(); });
        endWithTheLoop(box);
        box->show();
    }

    // From the loop, not from inside the box that is closing.
    void nextLater()
    {
        QTimer::singleShot(0, qApp, [this] { showNext(); });
    }

    std::deque<Waiting> waiting_;
    QPointer<QMessageBox> shown_;
};

BoxLine &boxLine()
{
    static BoxLine line;
    return line;
}

QWidget *boxParent()
{
    QWidget *active = QApplication::activeWindow();
    // Not the box being answered: it would take the next one with it.
    if (boxLine().isShown(active))
        return active->parentWidget();
    return active;
}

void tell(QMessageBox::Icon icon, const QString &text)
{
    static bool quitHooked = false;
    if (!quitHooked) {
        quitHooked = true;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { boxLine().clear(); });
    }
    boxLine().tell(icon, text, boxParent());
}

// Delivers a dialog's result to its callback, once; a child of the dialog,
// so a dialog destroyed while open takes it along uncalled.
class DialogAnswer : public QObject {
public:
    DialogAnswer(QDialog *dialog, QObject *context, std::function<void(int)> done, AfterClose after)
        : QObject(dialog)
        , context_(context)
        , hasContext_(context != nullptr)
        , done_(std::move(done))
        , after_(after)
    {
        connect(dialog, &QDialog::finished, this, [this](int result) { deliver(result); });
    }

private:
    void deliver(int result)
    {
        const QPointer<QDialog> dialog(static_cast<QDialog *>(parent()));
        const std::function<void(int)> done = std::move(done_);
        const bool contextAlive = !hasContext_ || context_;
        const AfterClose after = after_;
        deleteLater();
        disconnect(dialog, nullptr, this, nullptr);
        if (contextAlive)
            Guarded([&] { done(result); });
        if (after == AfterClose::Delete && dialog)
            dialog->deleteLater();
    }

    QPointer<QObject> context_;
    bool hasContext_;
    std::function<void(int)> done_;
    AfterClose after_;
};

} // namespace

void ShowMessage(const QString &text)
{
    if (activeRecorder) {
        activeRecorder->messages << text;
        return;
    }
    tell(QMessageBox::NoIcon, text);
}

void ShowException(const std::exception &e)
{
    const QString text = ExceptionMessage(e);
    if (activeRecorder) {
        activeRecorder->exceptions << text;
        return;
    }
    tell(QMessageBox::Critical, text);
}

void OpenWebAddress(const QString &address)
{
    if (activeRecorder) {
        activeRecorder->addresses << address;
        return;
    }
    QDesktopServices::openUrl(QUrl(address));
}

namespace {

// Opens the dialog as OpenDialog does, whatever script runs: a file dialog
// answers to the file choice script alone.
bool showDialog(QDialog *dialog, QObject *context, std::function<void(int result)> done, AfterClose after)
{
    Q_ASSERT(dialog);
    if (after == AfterClose::Keep && dialog->isVisible())
        return false;
    // A kept dialog hidden some other way than done() left its answer behind.
    std::vector<DialogAnswer *> left;
    for (QObject *c : dialog->children())
        if (auto *answer = dynamic_cast<DialogAnswer *>(c))
            left.push_back(answer);
    for (DialogAnswer *answer : left)
        delete answer;
    new DialogAnswer(dialog, context, std::move(done), after);
    if (dialog->windowModality() == Qt::NonModal)
        dialog->setWindowModality(Qt::ApplicationModal);
    if (after == AfterClose::Delete)
        endWithTheLoop(dialog);
    dialog->setResult(0);
    dialog->show();
    return true;
}

} // namespace

void OpenDialog(QDialog *dialog, QObject *context, std::function<void(int result)> done, AfterClose after)
{
    if (!showDialog(dialog, context, std::move(done), after) || !activeScript)
        return;

    const QPointer<QDialog> open(dialog);
    while (open && open->isVisible() && !activeScript->steps.empty()) {
        auto step = std::move(activeScript->steps.front());
        activeScript->steps.pop_front();
        step(*open);
    }
    if (open && open->isVisible()) {
        ++activeScript->unfinished;
        open->done(2);
    }
}

namespace {

QString scriptedFileChoice(FileDialogKind kind, const QString &suggestedPath)
{
    activeFileChoices->asked << suggestedPath;
    activeFileChoices->kinds.push_back(kind);
    if (activeFileChoices->answers.empty())
        return {};
    QString answer = std::move(activeFileChoices->answers.front());
    activeFileChoices->answers.pop_front();
    return answer;
}

} // namespace

void AskFileNameThen(FileDialogKind kind, const QString &caption, const QString &suggestedPath,
    QObject *context, std::function<void(const QString &path)> chosen, const QString &filter)
{
    if (activeFileChoices) {
        const QPointer<QObject> alive(context);
        const QString path = scriptedFileChoice(kind, suggestedPath);
        if ((!context || alive) && !path.isEmpty())
            Guarded([&] { chosen(path); });
        return;
    }
    // The same dialog the static QFileDialog functions make: the suggested
    // path gives both the folder and the name.
    auto *dialog = new QFileDialog(boxParent(), caption, suggestedPath, filter);
    if (kind == FileDialogKind::Open) {
        dialog->setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        if (kind == FileDialogKind::Record)
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
    }
    const auto answered = [dialog, chosen = std::move(chosen)](int result) {
        const QString path = result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
        if (!path.isEmpty())
            chosen(path);
    };
    (void)showDialog(dialog, context, answered, AfterClose::Delete);
}

MessageRecorder::MessageRecorder()
{
    Q_ASSERT(!activeRecorder);
    activeRecorder = this;
}

MessageRecorder::~MessageRecorder()
{
    activeRecorder = nullptr;
}

void MessageRecorder::clear()
{
    messages.clear();
    exceptions.clear();
    addresses.clear();
}

ModalScript::ModalScript()
{
    Q_ASSERT(!activeScript);
    activeScript = this;
}

ModalScript::~ModalScript()
{
    activeScript = nullptr;
}

FileChoiceScript::FileChoiceScript()
{
    Q_ASSERT(!activeFileChoices);
    activeFileChoices = this;
}

FileChoiceScript::~FileChoiceScript()
{
    activeFileChoices = nullptr;
}
