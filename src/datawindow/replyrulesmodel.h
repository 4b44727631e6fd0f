#pragma once
// The rules a rules dialog edits, as a table: one rule a row, in the order
// they are tried, in the columns 启用, 匹配方式, 匹配内容, 应答内容 and
// 十六进制应答. The rows are plain data and a view makes an editor only for
// the cell being edited, so thousands of rules cost no more than their data
// (a widget per cell took seconds for ten thousand). The match type column
// shows the type's name and edits its number (Qt::EditRole). Owned by its
// dialog; UI thread only.

#include "core/replyrules.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

class ReplyRulesModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { EnabledColumn, MatchColumn, PatternColumn, ReplyColumn, ReplyIsHexColumn, ColumnCount };

    // The column captions are the dialog's texts, translated there.
    explicit ReplyRulesModel(QStringList captions, QObject *parent = nullptr);

    [[nodiscard]] const std::vector<ReplyRule> &rules() const { return rules_; }
    void setRules(std::vector<ReplyRule> rules);
    void insertRule(int row, const ReplyRule &rule);
    void removeRule(int row);

    [[nodiscard]] int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;
    [[nodiscard]] QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList captions_;
    std::vector<ReplyRule> rules_;
};
