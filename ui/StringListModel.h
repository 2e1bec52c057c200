// The rows of a list box: UTF-8 byte strings kept once, handed to the view as
// text only for the rows it draws. Optionally keeps a key index beside the
// rows (for example the upper-folded text) so "is it in the list?" costs O(1)
// instead of a scan; every change keeps the index in step.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QAbstractListModel>

class TStringListModel : public QAbstractListModel {
public:
    using KeyFunction = std::function<std::string(std::string_view)>;

    explicit TStringListModel(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(rows_.size() + pending_.size()); }
    const std::string& At(int index) const;

    void Append(const std::string& s);
    void Append(std::string&& s);
    // Appends s unless a row with the same key is there already (one key
    // computation for both); false when it was. Without a key index: Append.
    bool AppendNewKey(std::string s);
    void Insert(int index, const std::string& s);
    void Remove(int index);
    void Clear();
    // Removes every row whose flag is set, keeping the order of the rest, in one step.
    // Returns the number removed.
    int RemoveFlagged(const std::vector<bool>& flags);
    void Assign(std::vector<std::string> rows);

    // While updates are held, appended rows are collected and the view is told
    // once when the last EndUpdate comes.
    void BeginUpdate();
    void EndUpdate();

    // Turns on the key index; keyOf maps a row to its key.
    void SetKeyIndex(KeyFunction keyOf);
    bool HasKey(const std::string& key) const;
    // How the view shows a row (the row itself when none is set); the rows
    // stay as they are for every other use.
    void SetDisplay(KeyFunction displayOf);

    // QAbstractListModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void AppendRow(std::string&& s);  // the index already counts s
    void IndexAdd(const std::string& s);
    void IndexRemove(const std::string& s);
    void RebuildIndex();
    void Flush();

    std::vector<std::string> rows_;
    std::vector<std::string> pending_;   // appended while updates are held
    int updateDepth_ = 0;
    KeyFunction keyOf_;
    KeyFunction displayOf_;
    std::unordered_map<std::string, std::uint32_t> keyCount_;
};
