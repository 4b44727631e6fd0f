#include "datawindow/replyrulesmodel.h"

ReplyRulesModel::ReplyRulesModel(QStringList captions, QObject *parent)
    : QAbstractTableModel(parent)
    , captions_(std::move(captions))
{
}

void ReplyRulesModel::setRules(std::vector<ReplyRule> rules)
{
    beginResetModel();
    rules_ = std::move(rules);
    endResetModel();
}

void ReplyRulesModel::insertRule(int row, const ReplyRule &rule)
{
    beginInsertRows(QModelIndex(), row, row);
    rules_.insert(rules_.begin() + row, rule);
    endInsertRows();
}

void ReplyRulesModel::removeRule(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    rules_.erase(rules_.begin() + row);
    endRemoveRows();
}

int ReplyRulesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rules_.size());
}

int ReplyRulesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReplyRulesModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const ReplyRule &rule = rules_[size_t(index.row())];
    switch (index.column()) {
    case EnabledColumn:
    case ReplyIsHexColumn:
        if (role == Qt::CheckStateRole) {
            const bool on = index.column() == EnabledColumn ? rule.enabled : rule.replyIsHex;
            return on ? Qt::Checked : Qt::Unchecked;
        }
        break;
    case MatchColumn:
        // The name shown depends on the interface language; the number is
        // what is edited and read back.
        if (role == Qt::DisplayRole)
            return matchTypeName(rule.match);
        if (role == Qt::EditRole)
            return int(rule.match);
        break;
    case PatternColumn:
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return rule.pattern;
        break;
    case ReplyColumn:
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return rule.reply;
        break;
    default:
        break;
    }
    return {};
}

bool ReplyRulesModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    ReplyRule &rule = rules_[size_t(index.row())];
    const int column = index.column();
    if ((column == EnabledColumn || column == ReplyIsHexColumn) && role == Qt::CheckStateRole) {
        const bool on = value.toInt() == Qt::Checked;
        if (column == EnabledColumn)
            rule.enabled = on;
        else
            rule.replyIsHex = on;
    } else if (column == MatchColumn && role == Qt::EditRole) {
        const int type = value.toInt();
        if (type < 0 || type > int(MatchType::HexBytes))
            return false;
        rule.match = MatchType(type);
    } else if (column == PatternColumn && role == Qt::EditRole) {
        rule.pattern = value.toString();
    } else if (column == ReplyColumn && role == Qt::EditRole) {
        rule.reply = value.toString();
    } else {
        return false;
    }
    emit dataChanged(index, index, {role});
    return true;
}

Qt::ItemFlags ReplyRulesModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    const Qt::ItemFlags always = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == EnabledColumn || index.column() == ReplyIsHexColumn)
        return always | Qt::ItemIsUserCheckable;
    return always | Qt::ItemIsEditable;
}

QVariant ReplyRulesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return captions_.value(section);
    // Rows are numbered from 1, as the messages name the rules.
    return QAbstractTableModel::headerData(section, orientation, role);
}
