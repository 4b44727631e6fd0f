#include "datawindow/replyrulesdialog.h"

#include "core/errors.h"
#include "core/regularfile.h"
#include "datawindow/replyrulesmodel.h"
#include "ui/messages.h"
#include "ui/palette.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The match type's editor: a combo box of the type names, made when the cell
// is edited and gone when the edit ends. The type rides along as the item's
// data: the shown name depends on the interface language and is never read
// back.
class MatchTypeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        auto *match = new QComboBox(parent);
        for (int k = 0; k <= int(MatchType::HexBytes); ++k)
            match->addItem(matchTypeName(MatchType(k)), k);
        return match;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        auto *match = static_cast<QComboBox *>(editor);
        match->setCurrentIndex(match->findData(index.data(Qt::EditRole)));
    }

    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        model->setData(index, static_cast<QComboBox *>(editor)->currentData(), Qt::EditRole);
    }
};

QPushButton *addButton(QWidget *dialog, QHBoxLayout *row, const QString &caption, const char *name)
{
    auto *button = new QPushButton(caption, dialog);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

} // namespace

ReplyRulesDialog::ReplyRulesDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("自动应答规则"));
    setModal(true);
    resize(640, 360);
    paintBackground(this, Colours::Cream);

    rulesModel_ = new ReplyRulesModel(
        {tr("启用"), tr("匹配方式"), tr("匹配内容"), tr("应答内容"), tr("十六进制应答")}, this);
    rulesTable_ = new QTableView(this);
    rulesTable_->setObjectName(QStringLiteral("rulesTable"));
    rulesTable_->setModel(rulesModel_);
    rulesTable_->setItemDelegateForColumn(ReplyRulesModel::MatchColumn, new MatchTypeDelegate(rulesTable_));
    rulesTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rulesTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    rulesTable_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    // Tab leaves the table for the buttons; the arrows move between cells.
    rulesTable_->setTabKeyNavigation(false);
    QHeaderView *header = rulesTable_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ReplyRulesModel::PatternColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ReplyRulesModel::ReplyColumn, QHeaderView::Stretch);

    auto *editRow = new QHBoxLayout;
    addButton_ = addButton(this, editRow, tr("添加"), "addButton");
    removeButton_ = addButton(this, editRow, tr("删除"), "removeButton");
    moveUpButton_ = addButton(this, editRow, tr("上移"), "moveUpButton");
    moveDownButton_ = addButton(this, editRow, tr("下移"), "moveDownButton");
    editRow->addStretch(1);
    importButton_ = addButton(this, editRow, tr("导入..."), "importButton");
    exportButton_ = addButton(this, editRow, tr("导出..."), "exportButton");

    auto *closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    okButton_ = addButton(this, closeRow, tr("确定"), "okButton");
    okButton_->setDefault(true);
    cancelButton_ = addButton(this, closeRow, tr("取消"), "cancelButton");
    closeRow->addStretch(1);

    // clang-format off
    auto *hint = new QLabel(tr(
        "按顺序逐条匹配收到的数据，第一条匹配的规则应答。文本应答中可用：\\1…\\9 正则表达式的分组，\\0 匹配到的内容，"
        "{time} 当前时间，{count} 已应答次数，{len} 收到的字节数，\\r \\n \\t 回车、换行、制表符。"), this);
    // clang-format on
    hint->setObjectName(QStringLiteral("hintLabel"));
    hint->setWordWrap(true);

    auto *column = new QVBoxLayout(this);
    column->addWidget(rulesTable_, 1);
    column->addWidget(hint);
    column->addLayout(editRow);
    column->addLayout(closeRow);

    connect(addButton_, &QPushButton::clicked, this, [this] { Guarded([this] { addRow(); }); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { Guarded([this] { removeRow(); }); });
    connect(moveUpButton_, &QPushButton::clicked, this, [this] { Guarded([this] { moveRow(-1); }); });
    connect(moveDownButton_, &QPushButton::clicked, this, [this] { Guarded([this] { moveRow(1); }); });
    connect(importButton_, &QPushButton::clicked, this, [this] { Guarded([this] { importRules(); }); });
    connect(exportButton_, &QPushButton::clicked, this, [this] { Guarded([this] { exportRules(); }); });
    connect(okButton_, &QPushButton::clicked, this, [this] { Guarded([this] { accept(); }); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { Guarded([this] { reject(); }); });
}

void ReplyRulesDialog::setRules(const std::vector<ReplyRule> &rules)
{
    rules_ = rules;
    showRules(rules_, rules_.empty() ? -1 : 0);
}

void ReplyRulesDialog::accept()
{
    if (!rowsAreUsable())
        return;
    rules_ = tableRules();
    done(Accepted);
}

void ReplyRulesDialog::reject()
{
    showRules(rules_, rules_.empty() ? -1 : 0);
    done(Cancelled);
}

std::vector<ReplyRule> ReplyRulesDialog::tableRules()
{
    // A cell still being edited (OK pressed with the Enter key, say) counts
    // with what it holds.
    const QModelIndex current = rulesTable_->currentIndex();
    if (QWidget *editor = rulesTable_->indexWidget(current))
        rulesTable_->itemDelegateForIndex(current)->setModelData(editor, rulesModel_, current);
    return rulesModel_->rules();
}

void ReplyRulesDialog::showRules(const std::vector<ReplyRule> &rules, int currentRow)
{
    rulesModel_->setRules(rules);
    setCurrentRow(currentRow);
}

void ReplyRulesDialog::setCurrentRow(int row)
{
    if (row >= 0 && row < rulesModel_->rowCount())
        rulesTable_->setCurrentIndex(rulesModel_->index(row, ReplyRulesModel::PatternColumn));
}

void ReplyRulesDialog::addRow()
{
    const int row = rulesModel_->rowCount();
    if (row >= MaxReplyRules) {
        ShowMessage(tr("规则最多 %1 条，不能再添加").arg(MaxReplyRules));
        return;
    }
    rulesModel_->insertRule(row, ReplyRule{});
    setCurrentRow(row);
}

void ReplyRulesDialog::removeRow()
{
    const int row = rulesTable_->currentIndex().row();
    if (row < 0)
        return;
    rulesModel_->removeRule(row);
    setCurrentRow(std::min(row, rulesModel_->rowCount() - 1));
}

void ReplyRulesDialog::moveRow(int by)
{
    const int row = rulesTable_->currentIndex().row();
    const int target = row + by;
    if (row < 0 || target < 0 || target >= rulesModel_->rowCount())
        return;
    // What is being typed in the row goes with it.
    std::vector<ReplyRule> rules = tableRules();
    std::swap(rules[size_t(row)], rules[size_t(target)]);
    showRules(rules, target);
}

bool ReplyRulesDialog::rowsAreUsable()
{
    const std::vector<ReplyRule> rules = tableRules();
    for (size_t k = 0; k < rules.size(); ++k) {
        const QString problem = ruleProblem(rules[k], int(k + 1));
        if (!problem.isEmpty()) {
            setCurrentRow(int(k));
            ShowMessage(problem);
            return false;
        }
    }
    return true;
}

void ReplyRulesDialog::askForFile(
    bool save, const QString &caption, std::function<void(const QString &)> then)
{
    if (!fileChooser_) {
        AskFileNameThen(save ? FileDialogKind::Save : FileDialogKind::Open, caption, QString(), this,
            std::move(then), tr("自动应答规则 (*.json);;所有文件 (*)"));
        return;
    }
    // A chooser of the owner's may run a loop of its own, during which the
    // dialog may go: it is called through a copy and the dialog re-checked
    // afterwards.
    const QPointer<ReplyRulesDialog> alive(this);
    const FileChooser choose = fileChooser_;
    const QString path = choose(save, caption);
    if (alive && !path.isEmpty())
        then(path);
}

void ReplyRulesDialog::importRules()
{
    askForFile(false, tr("导入自动应答规则"), [this](const QString &path) { importFrom(path); });
}

void ReplyRulesDialog::importFrom(const QString &path)
{
    // Only a regular file of bounded size: a named pipe would hold the
    // dialog in open(), a device could be read until the memory is gone.
    QString error;
    const std::optional<QByteArray> json = readRegularFile(path, MaxRulesFileBytes, &error);
    if (!json) {
        ShowMessage(tr("导入规则失败：%1：%2").arg(path, error));
        return;
    }
    const std::vector<ReplyRule> rules = rulesFromJson(*json, &error);
    if (!error.isEmpty()) {
        ShowMessage(error);
        return;
    }
    showRules(rules, rules.empty() ? -1 : 0);
}

void ReplyRulesDialog::exportRules()
{
    // A file that import would refuse is not written.
    if (!rowsAreUsable())
        return;
    // The rows as they were when export was pressed.
    askForFile(true, tr("导出自动应答规则"),
        [this, json = rulesToJson(tableRules())](const QString &path) { exportTo(path, json); });
}

void ReplyRulesDialog::exportTo(const QString &path, const QByteArray &json)
{
    // The save renames a file of its own over the path: never over a named
    // pipe or a device.
    QString error;
    if (!mayReplaceWithRegularFile(path, &error)) {
        ShowMessage(tr("导出规则失败：%1：%2").arg(path, error));
        return;
    }
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
    if (!written)
        ShowMessage(tr("导出规则失败：%1：%2").arg(path, file.errorString()));
}
