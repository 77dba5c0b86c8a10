#pragma once
// The rows of the job list as plain data, and the model the list's view draws
// them from: only the rows in sight are ever turned into texts, so a list of
// ten thousand files costs what its rows cost. Window's thread only.
#include <QAbstractTableModel>
#include <QStringList>

#include <string>
#include <unordered_map>
#include <vector>

#include "batch/Converter.h"

// The columns of the job list.
enum TJobColumn { colInputFilename, colDuration, colSize, colOutputFilename, colStatus, colPath, colCount };

// One file of the list and what the window says of it.
struct TJobRow {
    TListedFile File;    // as listing read it; Probed false: read when converted
    std::string Status;  // in English, shown translated; empty: nothing to say
    QString StatusTip;   // why, in the user's language; empty: the status itself
    std::string Output;  // the output's path, planned or written; empty: none yet
};

class TJobModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The column captions, in the user's language, in TJobColumn's order.
    void SetCaptions(const QStringList& captions);
    int Count() const { return static_cast<int>(rows_.size()); }
    const TJobRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
    // The row of a file; -1 when it is not (or no longer) listed.
    int RowOf(TFileId id) const;

    void Append(std::vector<TJobRow> rows);
    // A file read since it was listed takes its row's place of the unread one.
    void SetFile(int row, TListedFile file);
    void SetStatus(int row, const std::string& status, const QString& why = {});
    void SetOutput(int row, const std::string& path);
    // Outputs by file; files no longer listed are passed over.
    void SetOutputs(const std::vector<std::pair<TFileId, std::string>>& outputs);
    void Remove(int row);
    void Clear();
    void Move(int from, int to);

private:
    void Changed(int row, int column);
    std::vector<TJobRow> rows_;
    QStringList captions_;
    // File id -> row; rebuilt after rows went or moved, on the next look-up.
    mutable std::unordered_map<TFileId, int> rowOf_;
    mutable bool rowOfStale_ = false;
};
