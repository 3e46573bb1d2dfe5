// FrmPreview: what a run would do, listed before it is done, with 実行 to do it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTextEdit>

#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::ui {

// One row: a file that would be rewritten (mode 0) or renamed (modes 1 to 3), or a rename
// that would fail, with the reason.
struct PreviewRow {
    QString path;      // the file, or its old path
    QString new_path;  // modes 1 to 3
    QString encoding;  // mode 0: the file's encoding
    int replaced = 0;  // mode 0
    QString failure;   // empty unless the change would fail
};

// The rows as a table; a model, so that 100,000 rows cost no widget each.
class PreviewModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    PreviewModel(run::RunMode mode, std::vector<PreviewRow> rows, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    const PreviewRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

private:
    run::RunMode mode_;
    std::vector<PreviewRow> rows_;
};

class FrmPreview final : public QDialog {
    Q_OBJECT
public:
    // `totals` is the summary the run would end with; `diff` gives the unified diff of a file
    // of mode 0 (computed when the file is selected).
    FrmPreview(run::RunMode mode, std::vector<PreviewRow> rows, const QString& totals,
               std::function<std::string(const PreviewRow&)> diff, QWidget* parent);

    QTableView* LstFiles;
    QTextEdit* TxtLines;  // mode 0: the changed lines of the selected file
    QLabel* LblTotals;
    QPushButton* CmdRun;
    QPushButton* CmdClose;

    PreviewModel& Model() { return *model_; }

Q_SIGNALS:
    // 実行: the real run with the same inputs is wanted.
    void RunRequested();

private Q_SLOTS:
    void LstFiles_Click(const QModelIndex& current);
    void CmdRun_Click();

private:
    PreviewModel* model_;
    QSortFilterProxyModel* sorted_;
    std::function<std::string(const PreviewRow&)> diff_;
};

// A unified diff as rich text: lines taken out on red, lines put in on green, and in each pair
// of a line taken out and the line put in its place the replaced span in bold.
QString DiffToHtml(const QString& diff);

}  // namespace popuran::ui
