#include "ui/messages.h"

#include "core/errors.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

MessageRecorder *activeRecorder = nullptr;
ModalScript *activeScript = nullptr;
FileChoiceScript *activeFileChoices = nullptr;

// The boxes' caption. Not the application's display name: Qt appends that to
// the title of every top-level window, dialogs included.
const QString boxCaption = QStringLiteral("Portwright V2.5");

QWidget *boxParent()
{
    return QApplication::activeWindow();
}

} // namespace

void ShowMessage(const QString &text)
{
    if (activeRecorder) {
        activeRecorder->messages << text;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, boxCaption, text, QMessageBox::Ok, boxParent());
    box.exec();
}

void ShowException(const std::exception &e)
{
    const QString text = ExceptionMessage(e);
    if (activeRecorder) {
        activeRecorder->exceptions << text;
        return;
    }
    QMessageBox box(QMessageBox::Critical, boxCaption, text, QMessageBox::Ok, boxParent());
    box.exec();
}

void OpenWebAddress(const QString &address)
{
    if (activeRecorder) {
        activeRecorder->addresses << address;
        return;
    }
    QDesktopServices::openUrl(QUrl(address));
}

int RunModal(QDialog &dialog)
{
    if (!activeScript)
        return dialog.exec();

    dialog.setResult(0);
    dialog.show();
    while (dialog.isVisible() && !activeScript->steps.empty()) {
        auto step = std::move(activeScript->steps.front());
        activeScript->steps.pop_front();
        step(dialog);
    }
    if (dialog.isVisible()) {
        ++activeScript->unfinished;
        dialog.done(2);
    }
    return dialog.result();
}

QString AskFileName(FileDialogKind kind, const QString &caption, const QString &suggestedPath)
{
    if (activeFileChoices) {
        activeFileChoices->asked << suggestedPath;
        activeFileChoices->kinds.push_back(kind);
        if (activeFileChoices->answers.empty())
            return {};
        QString answer = std::move(activeFileChoices->answers.front());
        activeFileChoices->answers.pop_front();
        return answer;
    }
    if (kind == FileDialogKind::Save)
        return QFileDialog::getSaveFileName(boxParent(), caption, suggestedPath);
    if (kind == FileDialogKind::Record)
        return QFileDialog::getSaveFileName(
            boxParent(), caption, suggestedPath, QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    return QFileDialog::getOpenFileName(boxParent(), caption, suggestedPath);
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
