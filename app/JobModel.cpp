#include "app/JobModel.h"

#include <QLocale>

#include "app/QtDialogs.h"
#include "app/Translations.h"
#include "batch/General.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Bytes with the locale's group separators ("1.234.567" in German).
QString SizeText(int64_t bytes) { return QLocale().toString(static_cast<qlonglong>(bytes)); }

QString CellText(const TJobRow& r, int column) {
    switch (column) {
        case colInputFilename: return Q(FileNamePart(r.File.Path));
        case colDuration: return r.File.DurationUs < 0 ? QString() : Q(DurationText(r.File.DurationUs));
        case colSize: return r.File.SizeBytes < 0 ? QString() : SizeText(r.File.SizeBytes);
        case colOutputFilename: return Q(FileNamePart(r.Output));
        case colStatus: return r.Status.empty() ? QString() : TranslatedMessage(r.Status);
        case colPath: return Q(r.File.Path);
        default: return {};
    }
}

// A narrow column elides its text; the tooltip holds it whole.
QVariant CellTip(const TJobRow& r, int column) {
    switch (column) {
        case colInputFilename: return PlainToolTip(Q(r.File.Path));
        case colOutputFilename: return r.Output.empty() ? QVariant() : PlainToolTip(Q(r.Output));
        case colStatus:
            if (!r.StatusTip.isEmpty()) return PlainToolTip(r.StatusTip);
            return r.Status.empty() ? QVariant() : TranslatedMessage(r.Status);
        default: return {};
    }
}

}  // namespace

int TJobModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int TJobModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

QVariant TJobModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) return {};
    const TJobRow& r = Row(index.row());
    switch (role) {
        case Qt::DisplayRole: return CellText(r, index.column());
        case Qt::ToolTipRole: return CellTip(r, index.column());
        case Qt::TextAlignmentRole:
            if (index.column() == colDuration || index.column() == colSize)
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return {};
        default: return {};
    }
}

QVariant TJobModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= captions_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return captions_[section];
}

void TJobModel::SetCaptions(const QStringList& captions) {
    captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, colCount - 1);
}

int TJobModel::RowOf(TFileId id) const {
    if (rowOfStale_) {
        rowOf_.clear();
        for (size_t i = 0; i < rows_.size(); ++i) rowOf_[rows_[i].File.Id] = static_cast<int>(i);
        rowOfStale_ = false;
    }
    const auto found = rowOf_.find(id);
    return found == rowOf_.end() ? -1 : found->second;
}

void TJobModel::Append(std::vector<TJobRow> rows) {
    if (rows.empty()) return;
    const int first = Count();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (TJobRow& r : rows) {
        if (!rowOfStale_) rowOf_[r.File.Id] = Count();
        rows_.push_back(std::move(r));
    }
    endInsertRows();
}

void TJobModel::Changed(int row, int column) {
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at);
}

void TJobModel::SetFile(int row, TListedFile file) {
    if (row < 0 || row >= Count()) return;
    rows_[static_cast<size_t>(row)].File = std::move(file);
    emit dataChanged(index(row, colInputFilename), index(row, colPath));
}

void TJobModel::SetStatus(int row, const std::string& status, const QString& why) {
    if (row < 0 || row >= Count()) return;
    TJobRow& r = rows_[static_cast<size_t>(row)];
    r.Status = status;
    r.StatusTip = why;
    Changed(row, colStatus);
}

void TJobModel::SetOutput(int row, const std::string& path) {
    if (row < 0 || row >= Count()) return;
    rows_[static_cast<size_t>(row)].Output = path;
    Changed(row, colOutputFilename);
}

void TJobModel::SetOutputs(const std::vector<std::pair<TFileId, std::string>>& outputs) {
    for (const auto& [id, path] : outputs)
        if (const int row = RowOf(id); row >= 0) rows_[static_cast<size_t>(row)].Output = path;
    if (!rows_.empty()) emit dataChanged(index(0, colOutputFilename), index(Count() - 1, colOutputFilename));
}

void TJobModel::Remove(int row) {
    if (row < 0 || row >= Count()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    rowOfStale_ = true;
    endRemoveRows();
}

void TJobModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    rowOfStale_ = false;
    endResetModel();
}

void TJobModel::Move(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
    // Qt counts the place before which the row goes, in the rows as they were.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    TJobRow moved = std::move(rows_[static_cast<size_t>(from)]);
    rows_.erase(rows_.begin() + from);
    rows_.insert(rows_.begin() + to, std::move(moved));
    rowOfStale_ = true;
    endMoveRows();
}
