#pragma once
// The program's only ways of telling the user something modal: a message box
// with one OK button, the application's standard error box, modal dialogs and
// the file dialog. They are modal to the user but never to the code: each
// opens and returns at once, and what follows the user's answer runs in a
// callback, because a loop run inside a handler lets peers arrive and leave,
// and the application quit, under that handler's feet. Tests replace them
// (MessageRecorder, ModalScript, FileChoiceScript) so that nothing waits for
// a user. UI thread only.

#include <QString>
#include <QStringList>

#include <deque>
#include <exception>
#include <functional>
#include <vector>

class QDialog;
class QObject;

// Show their box and return at once; nothing waits for the OK. One box is on
// the screen at a time and the others wait their turn, so they read in the
// order they were told. A text that is on the screen or waiting already is
// not added again: a peer that fails every send would otherwise bury the
// window under boxes of one text. Boxes still open or waiting when the
// application's loop ends go with it.
void ShowMessage(const QString &text);
void ShowException(const std::exception &e);

// Opens a web address in the default browser; a failure is ignored.
void OpenWebAddress(const QString &address);

enum class AfterClose {
    Delete, // the dialog is deleted once it is closed and done has run
    Keep, // the dialog stays for the next use (and keeps what was typed)
};

// Opens the dialog modally to the user (application modal unless it asks for
// another modality, as exec() had it) and returns at once. When the dialog is
// closed with done(), done(result) runs (inside the exception guard) unless
// context is gone by then; nothing runs for a dialog destroyed while open.
// A kept dialog that is open already is left as it is, with its first
// callback. A dialog to delete that is still open when the application's
// loop ends goes with it.
void OpenDialog(QDialog *dialog, QObject *context, std::function<void(int result)> done,
    AfterClose after = AfterClose::Delete);

// Record asks for a file to append to: an existing one is kept, so the
// dialog does not ask whether to replace it, as it does for Save.
enum class FileDialogKind { Save, Open, Record };

// Asks for a file to save to, to open or to record into, starting at
// suggestedPath, without a loop: returns at once, and chosen(path) runs
// once the user picked a file, unless context is gone by then. A cancelled
// dialog calls nothing. filter is QFileDialog's name filter, none when empty.
void AskFileNameThen(FileDialogKind kind, const QString &caption, const QString &suggestedPath,
    QObject *context, std::function<void(const QString &path)> chosen, const QString &filter = QString());

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

// While one exists, OpenDialog shows the dialog without a modal
// loop and run the queued steps against it, one after another, until one of
// them closes it (with done()). A dialog that is still open when the steps
// run out counts as cancelled and is recorded in `unfinished`. OpenDialog's
// callback has run by the time it returns.
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

// While one exists, AskFileNameThen opens no dialog: it records the suggested
// path in `asked` and the kind of dialog in `kinds`, and answers with the next
// of `answers` (empty, as if cancelled, when none is left); its callback has
// run by the time it returns.
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
