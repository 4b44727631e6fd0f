#include "datawindow/replyrulesdialog.h"

#include "core/errors.h"
#include "ui/messages.h"
#include "ui/palette.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { EnabledColumn, MatchColumn, PatternColumn, ReplyColumn, ReplyIsHexColumn, ColumnCount };

QTableWidgetItem *checkItem(bool checked)
{
    auto *item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void fillRow(QTableWidget *table, int row, const ReplyRule &rule)
{
    // The type rides along as the item's data: the shown name depends on the
    // interface language and is never read back.
    auto *match = new QComboBox;
    for (int k = 0; k <= int(MatchType::HexBytes); ++k)
        match->addItem(matchTypeName(MatchType(k)), k);
    match->setCurrentIndex(match->findData(int(rule.match)));
    table->setItem(row, EnabledColumn, checkItem(rule.enabled));
    table->setCellWidget(row, MatchColumn, match);
    table->setItem(row, PatternColumn, new QTableWidgetItem(rule.pattern));
    table->setItem(row, ReplyColumn, new QTableWidgetItem(rule.reply));
    table->setItem(row, ReplyIsHexColumn, checkItem(rule.replyIsHex));
}

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

    rulesTable_ = new QTableWidget(0, ColumnCount, this);
    rulesTable_->setObjectName(QStringLiteral("rulesTable"));
    rulesTable_->setHorizontalHeaderLabels(
        {tr("启用"), tr("匹配方式"), tr("匹配内容"), tr("应答内容"), tr("十六进制应答")});
    rulesTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rulesTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    QHeaderView *header = rulesTable_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(PatternColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ReplyColumn, QHeaderView::Stretch);

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

    fileChooser_ = [this](bool save, const QString &caption) {
        const QString filter = tr("自动应答规则 (*.json);;所有文件 (*)");
        return save ? QFileDialog::getSaveFileName(this, caption, QString(), filter)
                    : QFileDialog::getOpenFileName(this, caption, QString(), filter);
    };
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

std::vector<ReplyRule> ReplyRulesDialog::tableRules() const
{
    std::vector<ReplyRule> rules;
    for (int row = 0; row < rulesTable_->rowCount(); ++row) {
        ReplyRule rule;
        rule.enabled = rulesTable_->item(row, EnabledColumn)->checkState() == Qt::Checked;
        const auto *match = qobject_cast<QComboBox *>(rulesTable_->cellWidget(row, MatchColumn));
        rule.match = MatchType(match->currentData().toInt());
        rule.pattern = rulesTable_->item(row, PatternColumn)->text();
        rule.reply = rulesTable_->item(row, ReplyColumn)->text();
        rule.replyIsHex = rulesTable_->item(row, ReplyIsHexColumn)->checkState() == Qt::Checked;
        rules.push_back(rule);
    }
    return rules;
}

void ReplyRulesDialog::showRules(const std::vector<ReplyRule> &rules, int currentRow)
{
    rulesTable_->setRowCount(0);
    rulesTable_->setRowCount(int(rules.size()));
    for (size_t row = 0; row < rules.size(); ++row)
        fillRow(rulesTable_, int(row), rules[row]);
    if (currentRow >= 0 && currentRow < rulesTable_->rowCount())
        rulesTable_->setCurrentCell(currentRow, PatternColumn);
}

void ReplyRulesDialog::addRow()
{
    const int row = rulesTable_->rowCount();
    rulesTable_->insertRow(row);
    fillRow(rulesTable_, row, ReplyRule{});
    rulesTable_->setCurrentCell(row, PatternColumn);
}

void ReplyRulesDialog::removeRow()
{
    const int row = rulesTable_->currentRow();
    if (row < 0)
        return;
    rulesTable_->removeRow(row);
    if (rulesTable_->rowCount() > 0)
        rulesTable_->setCurrentCell(std::min(row, rulesTable_->rowCount() - 1), PatternColumn);
}

void ReplyRulesDialog::moveRow(int by)
{
    const int row = rulesTable_->currentRow();
    const int target = row + by;
    if (row < 0 || target < 0 || target >= rulesTable_->rowCount())
        return;
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
            rulesTable_->setCurrentCell(int(k), PatternColumn);
            ShowMessage(problem);
            return false;
        }
    }
    return true;
}

void ReplyRulesDialog::importRules()
{
    // The chooser runs a loop of its own, during which the dialog may go: it
    // is called through a copy and the dialog re-checked afterwards.
    const QPointer<ReplyRulesDialog> alive(this);
    const FileChooser choose = fileChooser_;
    const QString path = choose(false, tr("导入自动应答规则"));
    if (!alive || path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowMessage(tr("导入规则失败：%1：%2").arg(path, file.errorString()));
        return;
    }
    QString error;
    const std::vector<ReplyRule> rules = rulesFromJson(file.readAll(), &error);
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
    const QByteArray json = rulesToJson(tableRules());
    const QPointer<ReplyRulesDialog> alive(this);
    const FileChooser choose = fileChooser_;
    const QString path = choose(true, tr("导出自动应答规则"));
    if (!alive || path.isEmpty())
        return;
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
    if (!written)
        ShowMessage(tr("导出规则失败：%1：%2").arg(path, file.errorString()));
}
