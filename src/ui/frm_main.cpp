#include "ui/frm_main.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>

#include <sys/stat.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDropEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPalette>
#include <QScreen>
#include <QUrl>

#include "folder/services/unified_diff.h"
#include "folder/services/utf8.h"
#include "run/undo.h"
#include "ui/app_icon.h"
#include "ui/frm_about.h"
#include "ui/frm_preview.h"
#include "ui/mod_dialog_tree_top.h"
#include "ui/mod_main.h"
#include "ui/qt_text.h"
#include "ui/twips.h"

namespace popuran::ui {

namespace {

using run::kAboutCaption;
using run::kStartCaption;
constexpr char16_t kFolderPrompt[] = u"検索するフォルダを指定してください。";
// A preview keeps the new contents of files up to this size to show their changed lines.
constexpr std::size_t kPreviewKeepBytes = 64u << 20;

QString Q(std::u16string_view text) { return ToQString(text); }

// The mode list: what each entry shows and the mode stored with it. Mode 3 has no entry of its
// own; it is reached through the second option button.
struct ModeEntry {
    const char16_t* text;
    run::RunMode mode;
};
constexpr ModeEntry kModeEntries[] = {
    {u"文字列置換", run::kModeReplace},
    {u"拡張子置換", run::kModeExtension},
    {u"ﾌｧｲﾙ名変換", run::kModeLower},
};

// A key press that types a character, as opposed to editing, moving, shortcuts and Enter,
// which the pattern box's filter must leave alone.
bool TypesCharacter(const QKeyEvent& event) {
    if (event.text().isEmpty()) {
        return false;
    }
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    switch (event.key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Delete:
        case Qt::Key_Escape:
            return false;
        default:
            return true;
    }
}

// A single-line control at its design place, made as tall as its font needs and kept centred
// on the design row.
void Place(QWidget& widget, const QRect& design) {
    const int height = std::max(design.height(), widget.sizeHint().height());
    widget.setGeometry(design.x(), design.center().y() - (height - 1) / 2, design.width(), height);
}

// The folder that a drop names: its first URL if that is a local folder, the folder of a local
// file; empty for anything else. The path is taken as the bytes the URL carries, so that a name
// that is not UTF-8 reaches the box in the same lossless form as the run's own names.
QString DroppedFolder(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) {
        return {};
    }
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) {
        return {};
    }
    const std::string bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    struct stat status {};
    if (bytes.empty() || ::stat(bytes.c_str(), &status) != 0) {
        return {};
    }
    std::u16string path = folder::Utf8ToText(bytes);
    if (!S_ISDIR(status.st_mode)) {
        const auto slash = path.find_last_of(u'/');
        if (slash == std::u16string::npos) {
            return {};
        }
        path.erase(slash == 0 ? 1 : slash);  // a file at the top gives "/"
    }
    return Q(path);
}

QFrame* MakeFrame(QWidget* parent, QFrame::Shape shape, QFrame::Shadow shadow) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(shape);
    frame->setFrameShadow(shadow);
    return frame;
}

}  // namespace

FrmMain::FrmMain(QWidget* parent)
    : QWidget(parent),
      journal_(folder::JournalFolder()),
      journalled_(files_, journal_),
      dry_(files_),
      captured_(dry_, kPreviewKeepBytes),
      run_(*this, journalled_),
      preview_run_(*this, captured_) {
    run_.SetJournal(&journal_);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(ProgramIcon());
    const Twips t = Twips::For(*this);

    // Created bottom first: the input-area frame and the separator lie under everything.
    ImgBase = MakeFrame(this, QFrame::Box, QFrame::Plain);
    ImgBase->setGeometry(t.Rect(75, 120, 6420, 2715));
    // The etched separator: a dark line with a light one just below it.
    for (std::size_t i = 0; i < Line1.size(); ++i) {
        QFrame* line = MakeFrame(this, QFrame::HLine, QFrame::Plain);
        QPalette palette = line->palette();
        palette.setColor(QPalette::WindowText,
                         palette.color(i == 0 ? QPalette::Mid : QPalette::Light));
        line->setPalette(palette);
        const int y = t.Px(1680) + static_cast<int>(i);
        line->setGeometry(t.Px(105), y, t.Px(6460) - t.Px(105), 1);
        Line1[i] = line;
    }
    LblCmd = MakeFrame(this, QFrame::Box, QFrame::Plain);
    LblCmd->setGeometry(t.Rect(6600, 120, 1830, 2715));

    LblSrc = new QLabel(Q(u"検索する文字列(&F):"), this);
    LblRpl = new QLabel(Q(u"置換後の文字列(&W):"), this);
    LblKey = new QLabel(Q(u"対象ﾌｧｲﾙ名(&N):"), this);
    LblPlace = new QLabel(Q(u"検索する場所(&L):"), this);
    static constexpr int kBoxTops[4] = {240, 600, 960, 1320};
    for (std::size_t i = 0; i < Cbobox.size(); ++i) {
        auto* box = new QComboBox(this);
        box->setEditable(true);
        // The history is kept by RecordHistory, not by Enter in the box.
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setCompleter(nullptr);
        box->setMaxVisibleItems(12);
        Place(*box, t.Rect(1920, kBoxTops[i], i == 3 ? 3855 : 4215, 300));
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
        Cbobox[i] = box;
    }
    const std::array<QLabel*, run::kBoxCount> box_labels = {LblSrc, LblRpl, LblKey, LblPlace};
    static constexpr int kLabelTops[4] = {280, 640, 1005, 1365};
    for (std::size_t i = 0; i < box_labels.size(); ++i) {
        box_labels[i]->setBuddy(Cbobox[i]);
        PlaceLabel(*box_labels[i], 240, kLabelTops[i], 180);
    }

    CmdPlace = new QPushButton(QStringLiteral("<<"), this);
    CmdPlace->setGeometry(t.Rect(5760, 1320, 375, 280));
    ChkSub = new QCheckBox(Q(u"ｻﾌﾞﾌｫﾙﾀﾞも検索"), this);
    Place(*ChkSub, t.Rect(1920, 1800, 1575, 180));
    ChkBin = new QCheckBox(Q(u"大文字/小文字を区別"), this);
    Place(*ChkBin, t.Rect(3720, 1800, 2055, 180));
    // Mode 0 only: a row of its own under the check boxes, in the column of the boxes.
    LblCode = new QLabel(Q(u"文字コード(&E):"), this);
    CboCode = new QComboBox(this);
    for (const char16_t* entry : {u"自動判別", u"Shift_JIS", u"UTF-8", u"EUC-JP"}) {
        CboCode->addItem(Q(entry));
    }
    Place(*CboCode, t.Rect(1920, 2100, 1800, 300));
    LblCode->setBuddy(CboCode);
    PlaceLabel(*LblCode, 240, 2160, 180);

    CmdRpl = new QPushButton(Q(kStartCaption), this);
    CmdRpl->setDefault(true);
    CmdRpl->setGeometry(t.Rect(6720, 240, 1620, 730));
    CboType = new QComboBox(this);
    for (const ModeEntry& entry : kModeEntries) {
        CboType->addItem(Q(entry.text), QVariant::fromValue(static_cast<int>(entry.mode)));
    }
    Place(*CboType, t.Rect(6720, 1080, 1590, 300));
    CmdEnd = new QPushButton(Q(u"終了"), this);
    CmdEnd->setGeometry(t.Rect(6705, 1560, 1620, 400));
    CmdPreview = new QPushButton(Q(u"プレビュー(&P)"), this);
    CmdPreview->setGeometry(t.Rect(6720, 2040, 1620, 360));
    CmdUndo = new QPushButton(Q(u"元に戻す(&U)"), this);
    CmdUndo->setGeometry(t.Rect(6720, 2430, 1620, 360));

    LblPath = new QLabel(this);
    LblPath->setTextFormat(Qt::PlainText);
    LblPath->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LblPath->setGeometry(t.Rect(75, 2955, 6420, 255));
    LblStat = new ClickLabel(this);
    LblStat->setTextFormat(Qt::PlainText);
    LblStat->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LblStat->setAlignment(Qt::AlignCenter);
    LblStat->setGeometry(t.Rect(6600, 2955, 1830, 255));
    // The progress marker is eleven full-width cells; the label's font is made small enough
    // for all of them, so that the square is never cut off at either end.
    const int cells_width = LblStat->contentsRect().width() - 2;
    if (QFontMetrics(LblStat->font()).horizontalAdvance(QChar(0x3000)) * 11 > cells_width) {
        QFont font = LblStat->font();
        font.setPixelSize(std::max(6, cells_width / 11));
        LblStat->setFont(font);
    }

    // The frame lies over the rows of boxes 0 and 1, which it replaces in modes 2 and 3.
    FraFN = new QGroupBox(this);
    FraFN->setGeometry(t.Rect(1080, 240, 4575, 615));
    OptFN[0] = new QRadioButton(Q(u"大文字　→　小文字"), FraFN);
    OptFN[1] = new QRadioButton(Q(u"小文字　→　大文字"), FraFN);
    Place(*OptFN[0], t.Rect(240, 240, 1935, 255));
    Place(*OptFN[1], t.Rect(2400, 240, 1935, 255));
    OptFN[0]->setChecked(true);
    FraFN->hide();

    for (QLabel* label : {LblPath, static_cast<QLabel*>(LblStat)}) {
        label->setFocusPolicy(Qt::NoFocus);
    }
    QWidget* const tab_order[] = {Cbobox[0], Cbobox[1],  Cbobox[2], Cbobox[3], CmdPlace,
                                  ChkSub,    ChkBin,     CboCode,   CmdRpl,    CboType,
                                  CmdEnd,    CmdPreview, CmdUndo,   OptFN[0],  OptFN[1]};
    for (std::size_t i = 1; i < std::size(tab_order); ++i) {
        setTabOrder(tab_order[i - 1], tab_order[i]);
    }

    setFixedSize(t.Px(8505), t.Px(3300));
    setAcceptDrops(true);

    connect(CboType, &QComboBox::activated, this, &FrmMain::CboType_Click);
    connect(CboCode, &QComboBox::activated, this, &FrmMain::CboCode_Click);
    for (int i = 0; i < 2; ++i) {
        connect(OptFN[static_cast<std::size_t>(i)], &QRadioButton::clicked, this,
                [this, i] { OptFN_Click(i); });
    }
    connect(CmdRpl, &QPushButton::clicked, this, &FrmMain::CmdRpl_Click);
    connect(CmdEnd, &QPushButton::clicked, this, &FrmMain::CmdEnd_Click);
    connect(CmdPreview, &QPushButton::clicked, this, &FrmMain::CmdPreview_Click);
    connect(CmdUndo, &QPushButton::clicked, this, &FrmMain::CmdUndo_Click);
    connect(CmdPlace, &QPushButton::clicked, this, &FrmMain::CmdPlace_Click);
    connect(LblStat, &ClickLabel::Clicked, this, &FrmMain::LblStat_Click);
}

FrmMain::~FrmMain() = default;

FrmAbout* FrmMain::About() const { return about_; }

FrmPreview* FrmMain::Preview() const { return preview_; }

void FrmMain::PlaceLabel(QLabel& label, int left, int top, int height) {
    const Twips t = Twips::For(*this);
    label.adjustSize();
    const int centre = t.Px(top) + t.Px(height) / 2;
    label.move(t.Px(left), centre - label.height() / 2);
}

bool FrmMain::Idle() const { return CmdRpl->text() == Q(kStartCaption); }

void FrmMain::Form_Load() {
    try {
        run_.State().CurrentMode = run::kModeReplace;
        CboType->setCurrentIndex(run_.State().CurrentMode);
        ChkBin->setChecked(true);
        ApplyMode(run_.State().CurrentMode);
        LblStat->setText(Q(kAboutCaption));
        UpdateUndoButton();
        if (const QScreen* screen = this->screen(); screen != nullptr) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
        show();
    } catch (const std::exception& failure) {
        ModMain::ShowMessage(QString::fromLocal8Bit(failure.what()), this);
    }
}

void FrmMain::ApplyMode(run::RunMode mode) {
    if (!Idle()) {
        return;
    }
    setWindowTitle(Q(run::kProgramTitle) + Q(u" ： ") + Q(run::ModeNames[CurrentMode()]));

    const bool names = mode != run::kModeReplace && mode != run::kModeExtension;
    FraFN->setVisible(names);
    if (mode == run::kModeReplace) {
        LblSrc->setText(Q(u"検索する文字列(&F):"));
        LblRpl->setText(Q(u"置換後の文字列(&W):"));
    } else if (mode == run::kModeExtension) {
        LblSrc->setText(Q(u"検索する拡張子(&F):"));
        LblRpl->setText(Q(u"置換後の拡張子(&W):"));
    }
    PlaceLabel(*LblSrc, 240, 280, 180);
    PlaceLabel(*LblRpl, 240, 640, 180);
    for (QWidget* row : {static_cast<QWidget*>(LblSrc), static_cast<QWidget*>(Cbobox[0]),
                         static_cast<QWidget*>(LblRpl), static_cast<QWidget*>(Cbobox[1])}) {
        row->setVisible(!names);
    }
    if (mode == run::kModeReplace) {
        // Every return to mode 0 makes the search case-sensitive again.
        ChkBin->setText(Q(u"大文字/小文字を区別"));
        ChkBin->setChecked(true);
        ChkBin->show();
    } else {
        ChkBin->hide();
    }
    LblCode->setVisible(mode == run::kModeReplace);
    CboCode->setVisible(mode == run::kModeReplace);
}

void FrmMain::CboCode_Click() {
    // The entries are in the order of the choices; a run in progress keeps the one it began
    // with, and the box shows it again.
    if (!Idle()) {
        CboCode->setCurrentIndex(run_.State().Encoding);
        return;
    }
    run_.State().Encoding = static_cast<run::EncodingChoice>(CboCode->currentIndex());
}

void FrmMain::CboType_Click() {
    if (!Idle()) {
        return;
    }
    const QString shown = CboType->currentText();
    for (int i = 0; i < CboType->count(); ++i) {
        if (CboType->itemText(i) == shown) {
            run_.State().CurrentMode = static_cast<run::RunMode>(CboType->itemData(i).toInt());
            break;
        }
    }
    ApplyMode(CurrentMode());
}

void FrmMain::OptFN_Click(int index) {
    if (!Idle()) {
        return;
    }
    run_.State().CurrentMode = index == 0 ? run::kModeLower : run::kModeUpper;
    ApplyMode(CurrentMode());
}

void FrmMain::CmdRpl_Click() {
    if (closing_) {
        return;
    }
    // During a run or a preview the button stops whichever is in progress.
    Click(active_ != nullptr ? *active_ : run_);
}

void FrmMain::Click(run::RunControl& control) {
    ++click_depth_;
    const bool starting = active_ == nullptr;
    if (starting) {
        active_ = &control;
    }
    try {
        control.CmdRpl_Click();
    } catch (const std::exception& failure) {
        // Nothing is expected to escape a run; if something does, the window must not stay
        // in its running look with a dead Stop button.
        --click_depth_;
        if (click_depth_ == 0) {
            LblPath->clear();
            LblStat->setText(Q(kAboutCaption));
            CmdRpl->setText(Q(kStartCaption));
            CmdRpl->setEnabled(true);
        }
        ShowMessage(ToU16(QString::fromLocal8Bit(failure.what())));
        ++click_depth_;
    }
    if (starting) {
        active_ = nullptr;
        // A run that changed files has just journalled them, none undone yet: reading a journal
        // of many thousand records back would keep the window from answering for a while.
        if (&control == &run_ && control.LastOutcome() != run::RunControl::Outcome::Refused &&
            run_.State().ChangedFileCount > 0 && !journal_.WriteFailure()) {
            CmdPreview->setEnabled(true);
            CmdUndo->setEnabled(true);
        } else {
            UpdateUndoButton();
        }
    }
    --click_depth_;
    // A close during the run waited for the run to let go; the program ends now.
    if (click_depth_ == 0 && closing_) {
        Q_EMIT ProgramEnded();
    }
}

void FrmMain::CmdPreview_Click() {
    if (closing_ || !Idle()) {
        return;
    }
    if (preview_ != nullptr) {
        preview_->close();
    }
    preview_rows_.clear();
    preview_totals_.clear();
    captured_.Clear();
    const run::RunMode mode = CurrentMode();
    preview_run_.State().CurrentMode = mode;
    Click(preview_run_);
    if (closing_ || preview_run_.LastOutcome() == run::RunControl::Outcome::Refused) {
        return;
    }
    auto diff = [this](const PreviewRow& row) {
        const std::u16string path = ToU16(row.path);
        const std::string* new_bytes = captured_.Find(path);
        auto old_bytes = files_.ReadAll(path);
        if (new_bytes == nullptr || !old_bytes) {
            return std::string();
        }
        const std::string encoding = row.encoding.toStdString();
        return folder::UnifiedDiff(folder::ReadableText(encoding, *old_bytes),
                                   folder::ReadableText(encoding, *new_bytes),
                                   folder::TextToUtf8(path));
    };
    auto* dialog = new FrmPreview(mode, std::move(preview_rows_), Q(preview_totals_), diff, this);
    preview_rows_.clear();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The real run starts once the preview has closed, with the inputs as they stand.
    connect(dialog, &FrmPreview::RunRequested, this, &FrmMain::CmdRpl_Click, Qt::QueuedConnection);
    preview_ = dialog;
    dialog->open();
}

void FrmMain::CmdUndo_Click() {
    if (closing_ || !Idle()) {
        return;
    }
    const std::string& journals = journal_.Folder();
    const auto ids = folder::JournalIds(journals);
    auto entry = ids.empty() ? folder::Result<folder::JournalEntry>(
                                   tl::unexpected(folder::Failure::FromErrno(ENOENT, journals)))
                             : folder::ReadJournal(journals, ids.front());
    if (!entry) {
        UpdateUndoButton();
        return;
    }
    const folder::JournalHeader& run = entry->header;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(run.start);
    const int mode = std::clamp(run.mode, 0, 3);
    const QString question = Q(u"「") + Q(run::ModeNames[mode]) + Q(u"」の実行（") +
                             start.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) + Q(u"、") +
                             Q(run.folder) + Q(u"）で変更した ") +
                             QString::number(entry->Confirmed()) +
                             Q(u" 個のファイルを元に戻しますか？");
    if (!ModMain::Confirm(question, this)) {
        return;
    }
    auto result = run::UndoRun(files_, journals, ids.front());
    if (!result) {
        ShowMessage(folder::Utf8ToText(result.error().Describe()));
        UpdateUndoButton();
        return;
    }
    std::u16string text = run::UndoSummary(*result);
    for (const auto& left : result->left) {
        text += u"\r" + left.path + u": " + left.reason;
    }
    ShowMessage(text);
    UpdateUndoButton();
}

void FrmMain::UpdateUndoButton() {
    const bool idle = Idle();
    CmdPreview->setEnabled(idle);
    bool undoable = false;
    if (idle) {
        const auto ids = folder::JournalIds(journal_.Folder());
        if (!ids.empty()) {
            auto entry = folder::ReadJournal(journal_.Folder(), ids.front());
            undoable = entry && std::any_of(entry->changes.begin(), entry->changes.end(),
                                            [](const auto& c) { return !c.undone; });
        }
    }
    CmdUndo->setEnabled(undoable);
}

void FrmMain::CmdEnd_Click() { close(); }

void FrmMain::CmdPlace_Click() {
    const QString path = modDialogTreeTop::ShowFolderDialog(this, Q(kFolderPrompt));
    if (!path.isEmpty()) {
        Cbobox[run::kFolderBox]->setEditText(path);
    }
}

void FrmMain::LblStat_Click() {
    if (LblStat->text() != Q(kAboutCaption)) {
        return;
    }
    if (about_ == nullptr) {
        about_ = new FrmAbout(this);
        about_->setAttribute(Qt::WA_DeleteOnClose);
        about_->Form_Load();
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload() {
    if (closing_) {
        return;
    }
    closing_ = true;
    if (about_ != nullptr) {
        about_->close();
    }
    if (click_depth_ > 0) {
        // The run on the stack finishes or leaves alone the file in hand, skips its summary,
        // and CmdRpl_Click ends the program when it returns.
        (active_ != nullptr ? *active_ : run_).Abandon();
        return;
    }
    Q_EMIT ProgramEnded();
}

void FrmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Start/Stop is the default button: Enter in a box or on a check box presses it; a
        // focused push button takes Enter itself.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        (button != nullptr ? button : CmdRpl)->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmMain::dragEnterEvent(QDragEnterEvent* event) { TakeFolderDrop(event); }

void FrmMain::dragMoveEvent(QDragMoveEvent* event) { TakeFolderDrop(event); }

void FrmMain::dropEvent(QDropEvent* event) { TakeFolderDrop(event); }

void FrmMain::TakeFolderDrop(QDropEvent* event) {
    const QString folder = Idle() ? DroppedFolder(event->mimeData()) : QString();
    if (folder.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        Cbobox[run::kFolderBox]->setEditText(folder);
    }
}

int FrmMain::BoxIndexOf(const QObject* watched) const {
    for (std::size_t i = 0; i < Cbobox.size(); ++i) {
        if (watched == Cbobox[i] || watched == Cbobox[i]->lineEdit()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FrmMain::Cbobox_KeyPress(int index, char16_t& key) {
    if (index != run::kPatternBox) {
        return;
    }
    const bool passes = (key >= u'0' && key <= u'9') || (key >= u'a' && key <= u'z') ||
                        (key >= u'A' && key <= u'Z') || key == u'*' || key == u'.' || key == u'\b';
    if (!passes) {
        key = 0;
    }
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    const bool drag = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
                      event->type() == QEvent::Drop;
    if (drag && BoxIndexOf(watched) >= 0) {
        // A box would take a dropped file as text, its URL written into whatever box it lands
        // on; a dropped file or folder goes to the folder box wherever it is dropped.
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->mimeData() != nullptr && drop->mimeData()->hasUrls()) {
            TakeFolderDrop(drop);
            return true;
        }
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::InputMethod) {
        return QWidget::eventFilter(watched, event);
    }
    const int index = BoxIndexOf(watched);
    if (index < 0) {
        return QWidget::eventFilter(watched, event);
    }
    auto filter = [this, index](const QString& typed) {
        QString kept;
        for (const QChar c : typed) {
            char16_t key = c.unicode();
            Cbobox_KeyPress(index, key);
            if (key != 0) {
                kept += QChar(key);
            }
        }
        return kept;
    };
    if (event->type() == QEvent::InputMethod) {
        // Text composed by an input method is typed text too; its commit goes through the same
        // filter, while the text still being composed is left to the input method.
        auto* input = static_cast<QInputMethodEvent*>(event);
        const QString kept = filter(input->commitString());
        if (kept != input->commitString()) {
            input->setCommitString(kept, input->replacementStart(), input->replacementLength());
        }
        return false;
    }
    auto* key_event = static_cast<QKeyEvent*>(event);
    if (!TypesCharacter(*key_event)) {
        return false;
    }
    const QString kept = filter(key_event->text());
    if (kept == key_event->text()) {
        return false;
    }
    QString printable = kept;
    printable.remove(QLatin1Char('\b'));
    if (!printable.isEmpty()) {
        Cbobox[static_cast<std::size_t>(index)]->lineEdit()->insert(printable);
    }
    return true;
}

std::u16string FrmMain::BoxText(int box) const {
    return ToU16(Cbobox.at(static_cast<std::size_t>(box))->currentText());
}

void FrmMain::SetBoxText(int box, std::u16string_view text) {
    Cbobox.at(static_cast<std::size_t>(box))->setEditText(Q(text));
}

bool FrmMain::Checked(run::CheckBox which) const {
    return (which == run::CheckBox::ChkSub ? ChkSub : ChkBin)->isChecked();
}

std::u16string FrmMain::CaptionText(run::Caption which) const {
    switch (which) {
        case run::Caption::Window:
            return ToU16(windowTitle());
        case run::Caption::CmdRpl:
            return ToU16(CmdRpl->text());
        case run::Caption::LblPath:
            return ToU16(LblPath->text());
        case run::Caption::LblStat:
            return ToU16(LblStat->text());
    }
    return {};
}

void FrmMain::SetCaption(run::Caption which, std::u16string_view text) {
    switch (which) {
        case run::Caption::Window:
            setWindowTitle(Q(text));
            return;
        case run::Caption::CmdRpl:
            CmdRpl->setText(Q(text));
            // Preview and undo wait while a run lasts.
            CmdPreview->setEnabled(Idle());
            CmdUndo->setEnabled(CmdUndo->isEnabled() && Idle());
            return;
        case run::Caption::LblPath:
            LblPath->setText(Q(text));
            return;
        case run::Caption::LblStat:
            LblStat->setText(Q(text));
            return;
    }
}

void FrmMain::EnableStartButton(bool enabled) { CmdRpl->setEnabled(enabled); }

void FrmMain::ShowMessage(std::u16string_view text) {
    if (closing_) {
        return;
    }
    ModMain::ShowMessage(Q(text), this);
}

void FrmMain::ShowSummary(std::u16string_view text) {
    if (active_ == &preview_run_) {
        // A preview lists the changes that would fail too, marked with the reason.
        preview_totals_ = text;
        for (const run::FailedFile& failure : Failures()) {
            PreviewRow row;
            row.path = Q(failure.path);
            row.failure = Q(failure.reason);
            preview_rows_.push_back(std::move(row));
        }
        return;
    }
    if (closing_) {
        return;
    }
    // The files that could not be changed, one "path: reason" a line, behind the box's details
    // button: the summary itself stays short however many there are.
    QString details;
    for (const run::FailedFile& failure : Failures()) {
        details += Q(failure.path) + QStringLiteral(": ") + Q(failure.reason) + QLatin1Char('\n');
    }
    ModMain::ShowMessage(Q(text), this, details);
}

void FrmMain::ReportChange(const run::Change& change) {
    if (active_ != &preview_run_) {
        return;
    }
    PreviewRow row;
    row.path = Q(change.path);
    row.new_path = Q(change.new_path);
    row.encoding = QString::fromStdString(change.encoding);
    row.replaced = change.replaced;
    preview_rows_.push_back(std::move(row));
}

void FrmMain::FocusBox(int box) { Cbobox.at(static_cast<std::size_t>(box))->setFocus(); }

void FrmMain::RecordHistory() {
    for (QComboBox* box : Cbobox) {
        const QString text = box->currentText();
        if (text.isEmpty()) {
            continue;
        }
        bool known = false;
        for (int i = 0; i < box->count() && !known; ++i) {
            known = box->itemText(i) == text;
        }
        if (known) {
            continue;
        }
        box->insertItem(0, text);
        // Inserting may move the box's current entry; the box keeps showing what was typed.
        box->setEditText(text);
    }
}

void FrmMain::YieldToEvents() {
    if (closing_) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace popuran::ui
