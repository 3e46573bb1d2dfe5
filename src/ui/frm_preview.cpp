#include "ui/frm_preview.h"

#include <utility>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QStringList>
#include <QVBoxLayout>

#include "ui/qt_text.h"

namespace popuran::ui {

namespace {

QString Q(std::u16string_view text) { return ToQString(text); }

// Columns of mode 0, and of the renaming modes.
enum ReplaceColumn { kFile, kEncoding, kCount };
enum RenameColumn { kOld, kNew, kState };

QString Span(const QString& line, int from, int to, const char* colour) {
    const QString before = line.left(from).toHtmlEscaped();
    const QString middle = line.mid(from, to - from).toHtmlEscaped();
    const QString after = line.mid(to).toHtmlEscaped();
    return QStringLiteral("<div style=\"background:%1\">%2<b><u>%3</u></b>%4</div>")
        .arg(QLatin1String(colour), before, middle, after);
}

QString Plain(const QString& line, const char* colour) {
    return QStringLiteral("<div style=\"background:%1\">%2</div>")
        .arg(QLatin1String(colour), line.toHtmlEscaped());
}

constexpr char kTakenOut[] = "#fdd";
constexpr char kPutIn[] = "#dfd";
constexpr char kHeading[] = "#eee";
constexpr char kContext[] = "#fff";

}  // namespace

PreviewModel::PreviewModel(run::RunMode mode, std::vector<PreviewRow> rows, QObject* parent)
    : QAbstractTableModel(parent), mode_(mode), rows_(std::move(rows)) {}

int PreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PreviewModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant PreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const PreviewRow& row = Row(index.row());
    if (role == Qt::ForegroundRole && !row.failure.isEmpty()) {
        return QColor(Qt::red);
    }
    if (role == Qt::ToolTipRole) {
        return row.failure.isEmpty() ? row.path : row.failure;
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) {
        return {};
    }
    if (mode_ == run::kModeReplace) {
        switch (index.column()) {
            case kFile:
                return row.path;
            case kEncoding:
                return row.encoding;
            default:
                // A number, so that sorting by this column sorts by count.
                return row.replaced;
        }
    }
    switch (index.column()) {
        case kOld:
            return row.path;
        case kNew:
            return row.new_path;
        default:
            return row.failure.isEmpty() ? Q(u"変更") : row.failure;
    }
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char16_t* const kReplace[] = {u"ファイル", u"文字コード", u"置換数"};
    static const char16_t* const kRename[] = {u"変更前", u"変更後", u"状態"};
    if (section < 0 || section >= 3) {
        return {};
    }
    return Q(mode_ == run::kModeReplace ? kReplace[section] : kRename[section]);
}

FrmPreview::FrmPreview(run::RunMode mode, std::vector<PreviewRow> rows, const QString& totals,
                       std::function<std::string(const PreviewRow&)> diff, QWidget* parent)
    : QDialog(parent), diff_(std::move(diff)) {
    setWindowTitle(Q(run::kProgramTitle) + Q(u" ： プレビュー"));
    setSizeGripEnabled(true);
    resize(760, 520);

    model_ = new PreviewModel(mode, std::move(rows), this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    LstFiles = new QTableView(this);
    LstFiles->setModel(sorted_);
    LstFiles->setSortingEnabled(true);
    LstFiles->sortByColumn(-1, Qt::AscendingOrder);  // the order of the run until asked
    LstFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    LstFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    LstFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LstFiles->verticalHeader()->hide();
    // The paths take the room; the short columns are as wide as what they hold.
    QHeaderView* header = LstFiles->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(
        1, mode == run::kModeReplace ? QHeaderView::ResizeToContents : QHeaderView::Stretch);
    header->setSectionResizeMode(
        2, mode == run::kModeReplace ? QHeaderView::ResizeToContents : QHeaderView::Interactive);
    if (mode != run::kModeReplace) {
        header->resizeSection(2, 160);
    }
    // Paths lose their start rather than the file's name when the room is short.
    LstFiles->setTextElideMode(Qt::ElideLeft);

    TxtLines = new QTextEdit(this);
    TxtLines->setReadOnly(true);
    TxtLines->setLineWrapMode(QTextEdit::NoWrap);
    TxtLines->setVisible(mode == run::kModeReplace);

    QString shown_totals = totals;
    shown_totals.replace(QLatin1Char('\r'), QStringLiteral("　"));
    LblTotals = new QLabel(shown_totals, this);
    LblTotals->setTextFormat(Qt::PlainText);
    CmdRun = new QPushButton(Q(u"実行(&R)"), this);
    CmdClose = new QPushButton(Q(u"閉じる(&C)"), this);
    CmdRun->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(LblTotals, 1);
    buttons->addWidget(CmdRun);
    buttons->addWidget(CmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LstFiles, 3);
    layout->addWidget(TxtLines, 2);
    layout->addLayout(buttons);

    connect(LstFiles->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &FrmPreview::LstFiles_Click);
    connect(CmdRun, &QPushButton::clicked, this, &FrmPreview::CmdRun_Click);
    connect(CmdClose, &QPushButton::clicked, this, &QDialog::reject);
    if (model_->rowCount() > 0) {
        LstFiles->selectRow(0);
    }
}

void FrmPreview::LstFiles_Click(const QModelIndex& current) {
    if (TxtLines->isHidden()) {
        return;
    }
    if (!current.isValid() || !diff_) {
        TxtLines->clear();
        return;
    }
    const PreviewRow& row = model_->Row(sorted_->mapToSource(current).row());
    TxtLines->setHtml(DiffToHtml(QString::fromStdString(diff_(row))));
}

void FrmPreview::CmdRun_Click() {
    accept();
    Q_EMIT RunRequested();
}

QString DiffToHtml(const QString& diff) {
    QStringList lines = diff.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    QString html = QStringLiteral("<div style=\"font-family:monospace; white-space:pre\">");
    int i = 0;
    while (i < lines.size()) {
        const QString& line = lines[i];
        if (line.startsWith(QLatin1String("---")) || line.startsWith(QLatin1String("+++")) ||
            line.startsWith(QLatin1Char('\\'))) {
            ++i;
            continue;
        }
        if (line.startsWith(QLatin1String("@@"))) {
            html += Plain(line, kHeading);
            ++i;
            continue;
        }
        if (!line.startsWith(QLatin1Char('-'))) {
            html += Plain(line, kContext);
            ++i;
            continue;
        }
        // A block taken out, then the block put in: lines are paired in order, and a pair's
        // differing middle is the replaced span.
        int taken_end = i;
        while (taken_end < lines.size() && lines[taken_end].startsWith(QLatin1Char('-'))) {
            ++taken_end;
        }
        int put_end = taken_end;
        while (put_end < lines.size() && lines[put_end].startsWith(QLatin1Char('+'))) {
            ++put_end;
        }
        const int pairs = std::min(taken_end - i, put_end - taken_end);
        std::vector<std::pair<int, int>> spans_old(static_cast<std::size_t>(pairs));
        std::vector<std::pair<int, int>> spans_new(static_cast<std::size_t>(pairs));
        for (int k = 0; k < pairs; ++k) {
            const QString& a = lines[i + k];
            const QString& b = lines[taken_end + k];
            int head = 1;
            while (head < a.size() && head < b.size() && a[head] == b[head]) {
                ++head;
            }
            int tail = 0;
            while (tail < a.size() - head && tail < b.size() - head &&
                   a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
                ++tail;
            }
            spans_old[static_cast<std::size_t>(k)] = {head, static_cast<int>(a.size()) - tail};
            spans_new[static_cast<std::size_t>(k)] = {head, static_cast<int>(b.size()) - tail};
        }
        for (int k = i; k < taken_end; ++k) {
            const int p = k - i;
            html += p < pairs ? Span(lines[k], spans_old[static_cast<std::size_t>(p)].first,
                                     spans_old[static_cast<std::size_t>(p)].second, kTakenOut)
                              : Plain(lines[k], kTakenOut);
        }
        for (int k = taken_end; k < put_end; ++k) {
            const int p = k - taken_end;
            html += p < pairs ? Span(lines[k], spans_new[static_cast<std::size_t>(p)].first,
                                     spans_new[static_cast<std::size_t>(p)].second, kPutIn)
                              : Plain(lines[k], kPutIn);
        }
        i = put_end;
    }
    return html + QStringLiteral("</div>");
}

}  // namespace popuran::ui
