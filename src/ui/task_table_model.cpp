#include "ui/task_table_model.h"

#include "ui/ansi_text.h"

namespace ferry {

namespace {
// Source and Destination hold folder paths; the others are code-page text.
bool IsPathColumn(int tableColumn) {
    return tableColumn == 2 || tableColumn == 3;
}
} // namespace

TaskTableModel::TaskTableModel(TaskTable& table, QObject* parent)
    : QAbstractTableModel(parent), Table_(table) {
    Table_.SetObserver(this);
}

TaskTableModel::~TaskTableModel() {
    Table_.SetObserver(nullptr);
}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(0, Table_.RowCount() - 1);
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : TaskTable::ColCount - 1;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const int col = index.column() + 1;
    const std::string& text = Table_.Cell(col, index.row() + 1);
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    return IsPathColumn(col) ? PathToQString(text) : AnsiToQString(text);
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return AnsiToQString(Table_.Cell(section + 1, 0));
    return AnsiToQString(Table_.Cell(0, section + 1));
}

Qt::ItemFlags TaskTableModel::flags(const QModelIndex& index) const {
    // Cells are never edited in the grid: only the task dialogs change them.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// The table may nest changes (an append is a write and a row-count change); the view is
// reset once, around the outermost.
void TaskTableModel::TableAboutToChange() {
    if (Depth_++ == 0)
        beginResetModel();
}

void TaskTableModel::TableChanged() {
    if (--Depth_ == 0) {
        endResetModel();
        emit TableReset();
    }
}

void TaskTableModel::CurrentRowChanged() {
    emit CurrentRowMoved();
}

} // namespace ferry
