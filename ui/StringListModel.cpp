#include "ui/StringListModel.h"

#include <stdexcept>

TStringListModel::TStringListModel(QObject* parent) : QAbstractListModel(parent) {}

const std::string& TStringListModel::At(int index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("list index out of bounds (" + std::to_string(index) + ")");
    const auto i = static_cast<std::size_t>(index);
    return i < rows_.size() ? rows_[i] : pending_[i - rows_.size()];
}

void TStringListModel::Append(const std::string& s)
{
    Append(std::string(s));
}

void TStringListModel::Append(std::string&& s)
{
    IndexAdd(s);
    AppendRow(std::move(s));
}

bool TStringListModel::AppendNewKey(std::string s)
{
    if (keyOf_) {
        auto [it, isNew] = keyCount_.try_emplace(keyOf_(s), 0);
        if (!isNew)
            return false;
        ++it->second;
    }
    AppendRow(std::move(s));
    return true;
}

void TStringListModel::AppendRow(std::string&& s)
{
    if (updateDepth_ > 0) {
        pending_.push_back(std::move(s));
        return;
    }
    const int row = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(std::move(s));
    endInsertRows();
}

void TStringListModel::Insert(int index, const std::string& s)
{
    Flush();
    if (index < 0 || index > Count())
        throw std::out_of_range("list index out of bounds (" + std::to_string(index) + ")");
    IndexAdd(s);
    beginInsertRows(QModelIndex(), index, index);
    rows_.insert(rows_.begin() + index, s);
    endInsertRows();
}

void TStringListModel::Remove(int index)
{
    Flush();
    if (index < 0 || index >= Count())
        throw std::out_of_range("list index out of bounds (" + std::to_string(index) + ")");
    IndexRemove(rows_[static_cast<std::size_t>(index)]);
    beginRemoveRows(QModelIndex(), index, index);
    rows_.erase(rows_.begin() + index);
    endRemoveRows();
}

void TStringListModel::Clear()
{
    beginResetModel();
    rows_.clear();
    pending_.clear();
    keyCount_.clear();
    endResetModel();
}

int TStringListModel::RemoveFlagged(const std::vector<bool>& flags)
{
    Flush();
    int removed = 0;
    for (std::size_t i = 0; i < rows_.size() && i < flags.size(); ++i)
        removed += flags[i] ? 1 : 0;
    if (removed == 0)
        return 0;
    std::vector<std::string> kept;
    kept.reserve(rows_.size() - static_cast<std::size_t>(removed));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i >= flags.size() || !flags[i])
            kept.push_back(std::move(rows_[i]));
    }
    // One reset instead of thousands of row removals: the view and its
    // selection are rebuilt once.
    beginResetModel();
    rows_ = std::move(kept);
    RebuildIndex();
    endResetModel();
    return removed;
}

void TStringListModel::Assign(std::vector<std::string> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    pending_.clear();
    RebuildIndex();
    endResetModel();
}

void TStringListModel::BeginUpdate()
{
    ++updateDepth_;
}

void TStringListModel::EndUpdate()
{
    if (updateDepth_ > 0 && --updateDepth_ == 0)
        Flush();
}

void TStringListModel::Flush()
{
    if (pending_.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    const int last = first + static_cast<int>(pending_.size()) - 1;
    // The pending rows are not in rowCount() yet, so the view sees the
    // insertion announced before the rows appear, as the model contract wants.
    std::vector<std::string> batch;
    batch.swap(pending_);
    beginInsertRows(QModelIndex(), first, last);
    rows_.insert(rows_.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
    endInsertRows();
}

void TStringListModel::SetKeyIndex(KeyFunction keyOf)
{
    keyOf_ = std::move(keyOf);
    RebuildIndex();
}

void TStringListModel::SetDisplay(KeyFunction displayOf)
{
    beginResetModel();
    displayOf_ = std::move(displayOf);
    endResetModel();
}

bool TStringListModel::HasKey(const std::string& key) const
{
    return keyCount_.find(key) != keyCount_.end();
}

void TStringListModel::IndexAdd(const std::string& s)
{
    if (keyOf_)
        ++keyCount_[keyOf_(s)];
}

void TStringListModel::IndexRemove(const std::string& s)
{
    if (!keyOf_)
        return;
    auto it = keyCount_.find(keyOf_(s));
    if (it != keyCount_.end() && --it->second == 0)
        keyCount_.erase(it);
}

void TStringListModel::RebuildIndex()
{
    keyCount_.clear();
    if (!keyOf_)
        return;
    keyCount_.reserve(rows_.size() + pending_.size());
    for (const auto& s : rows_)
        ++keyCount_[keyOf_(s)];
    for (const auto& s : pending_)
        ++keyCount_[keyOf_(s)];
}

int TStringListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TStringListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const auto& s = rows_[static_cast<std::size_t>(index.row())];
        if (displayOf_) {
            const std::string shown = displayOf_(s);
            return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
        }
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }
    return {};
}
