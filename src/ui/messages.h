#pragma once
// The program's only ways of telling the user something modal: a message box
// with one OK button, the application's standard error box, modal dialogs and
// the file dialog. Tests replace them (MessageRecorder, ModalScript,
// FileChoiceScript) so that nothing blocks. UI thread only.

#include <QString>
#include <QStringList>

#include <deque>
#include <exception>
#include <functional>
#include <vector>

class QDialog;

void ShowMessage(const QString &text);
void ShowException(const std::exception &e);

// Opens a web address in the default browser; a failure is ignored.
void OpenWebAddress(const QString &address);

// Runs a dialog modally and returns its result (1 = OK, 2 = Cancel as the
// dialogs set it with done()).
int RunModal(QDialog &dialog);

// Record asks for a file to append to: an existing one is kept, so the
// dialog does not ask whether to replace it, as it does for Save.
enum class FileDialogKind { Save, Open, Record };

// Asks for a file to save to, to open or to record into, starting at
// suggestedPath; an empty result means the user cancelled. The dialog runs a
// nested event loop: the caller re-checks that what it holds still exists
// when it returns.
[[nodiscard]] QString AskFileName(FileDialogKind kind, const QString &caption, const QString &suggestedPath);

// While one exists, ShowMessage and ShowException record their texts here
// instead of opening a box.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QStringList messages; // ShowMessage texts, in order
    QStringList exceptions; // ShowException texts, in order
    QStringList addresses; // OpenWebAddress addresses, in order

    void clear();
};

// While one exists, RunModal shows the dialog without a modal loop and runs
// the queued steps against it, one after another, until one of them closes it
// (with done()). A dialog that is still open when the steps run out counts as
// cancelled and is recorded in `unfinished`.
class ModalScript {
public:
    using Step = std::function<void(QDialog &)>;

    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript &) = delete;
    ModalScript &operator=(const ModalScript &) = delete;

    void push(Step step) { steps.push_back(std::move(step)); }

    std::deque<Step> steps;
    int unfinished = 0;
};

// While one exists, AskFileName opens no dialog: it records the suggested path
// in `asked` and the kind of dialog in `kinds`, and answers with the next of
// `answers` (empty, as if cancelled, when none is left).
class FileChoiceScript {
public:
    FileChoiceScript();
    ~FileChoiceScript();
    FileChoiceScript(const FileChoiceScript &) = delete;
    FileChoiceScript &operator=(const FileChoiceScript &) = delete;

    std::deque<QString> answers;
    QStringList asked;
    std::vector<FileDialogKind> kinds;
};
