#pragma once

// The grid's view of the task table.

#include <QAbstractTableModel>

#include "core/task_table.h"

namespace ferry {

// The grid's view of the task table, cell for cell, with no copy of its own. Table row 0
// (the headings) is the horizontal header and column 0 (the numbers) the vertical one, so
// model row i is table row i + 1 and model column j is table column j + 1.
class TaskTableModel : public QAbstractTableModel, public TaskTableObserver {
    Q_OBJECT
public:
    explicit TaskTableModel(TaskTable& table, QObject* parent = nullptr);
    ~TaskTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void TableAboutToChange() override;
    void TableChanged() override;
    void CurrentRowChanged() override;

signals:
    // The table changed under the view; the grid puts its current row back.
    void TableReset();
    // Only the current row moved; no cell changed.
    void CurrentRowMoved();

private:
    TaskTable& Table_;
    int Depth_ = 0;
};

} // namespace ferry
