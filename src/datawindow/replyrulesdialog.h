#pragma once
// Edits a data window's automatic reply rules as a table, one rule a row, in
// the order they are tried, at most MaxReplyRules. OK accepts the rows only
// when every rule is usable (otherwise one message names the first problem
// and the dialog stays open); cancel puts back the rules it was given. Import
// and export read and write the rules as a JSON file, a regular one only.
// Every control is reached by the keyboard: Tab goes from the table to the
// buttons, the arrows move in the table, F2 or typing edits a cell and the
// space bar switches a check box. The dialog owns its widgets; its owner
// opens it (OpenDialog) and reads the rules once it is accepted. The file
// dialogs of import and export open without a loop of their own; what they
// lead to runs once a file is chosen, and not at all once the dialog is gone.
// UI thread only.

#include "core/replyrules.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPushButton;
class QTableView;
class ReplyRulesModel;

class ReplyRulesDialog : public QDialog {
    Q_OBJECT

public:
    enum Result { Accepted = 1, Cancelled = 2 };
    // Asks for a file to save to (save) or open; "" when the user gives none.
    // Without one the dialog asks through AskFileNameThen.
    using FileChooser = std::function<QString(bool save, const QString &caption)>;

    explicit ReplyRulesDialog(QWidget *parent = nullptr);

    // The rules as last set or accepted with OK.
    [[nodiscard]] std::vector<ReplyRule> rules() const { return rules_; }
    void setRules(const std::vector<ReplyRule> &rules);

    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }

    void accept() override;
    // Closing by the title bar cancels as the cancel button does.
    void reject() override;

private:
    // The rows, with what the cell being edited holds so far.
    [[nodiscard]] std::vector<ReplyRule> tableRules();
    void showRules(const std::vector<ReplyRule> &rules, int currentRow);
    void setCurrentRow(int row);
    void addRow();
    void removeRow();
    void moveRow(int by);
    void askForFile(bool save, const QString &caption, std::function<void(const QString &)> then);
    void importRules();
    void importFrom(const QString &path);
    void exportRules();
    void exportTo(const QString &path, const QByteArray &json);
    // ShowMessage with the first row's problem; false when there is one.
    [[nodiscard]] bool rowsAreUsable();

    ReplyRulesModel *rulesModel_;
    QTableView *rulesTable_;
    QPushButton *addButton_, *removeButton_, *moveUpButton_, *moveDownButton_;
    QPushButton *importButton_, *exportButton_, *okButton_, *cancelButton_;
    std::vector<ReplyRule> rules_;
    FileChooser fileChooser_;
};
