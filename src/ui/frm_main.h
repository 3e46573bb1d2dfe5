// FrmMain: the main window, its modes, input boxes and histories, and the window side of a run.
#pragma once

#include <array>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "folder/services/diff_capture.h"
#include "folder/services/dry_run_file_services.h"
#include "folder/services/file_services.h"
#include "folder/services/journal.h"
#include "run/run_control.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"
#include "ui/click_label.h"

namespace popuran::ui {

class FrmAbout;
class FrmPreview;
struct PreviewRow;

class FrmMain : public QWidget, public run::RunView {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    // Sets mode 0, checks ChkBin, lays the window out, writes the status label and shows the
    // window centred on its screen. A failure is shown with ModMain::ShowMessage.
    void Form_Load();
    // Window caption and layout for `mode`; does nothing while a run is active.
    void ApplyMode(run::RunMode mode);

    run::RunMode CurrentMode() const { return run_.State().CurrentMode; }
    const run::RunControl& Run() const { return run_; }
    // The open preview window, or null.
    FrmPreview* Preview() const;
    // The open About window, or null.
    FrmAbout* About() const;

    // RunView.
    std::u16string BoxText(int box) const override;
    void SetBoxText(int box, std::u16string_view text) override;
    bool Checked(run::CheckBox which) const override;
    std::u16string CaptionText(run::Caption which) const override;
    void SetCaption(run::Caption which, std::u16string_view text) override;
    void EnableStartButton(bool enabled) override;
    void ShowMessage(std::u16string_view text) override;
    // The summary, with the files that could not be changed in the box's details area.
    void ShowSummary(std::u16string_view text) override;
    void FocusBox(int box) override;
    void ReportChange(const run::Change& change) override;
    // Boxes 0 to 3, hidden ones too: a non-empty text that its list does not hold yet (exact,
    // case-sensitive) goes in at the top.
    void RecordHistory() override;

    // Controls, in tab order. The window owns them; these are plain pointers.
    QLabel* LblSrc;
    std::array<QComboBox*, run::kBoxCount> Cbobox;
    QLabel* LblRpl;
    QLabel* LblKey;
    QLabel* LblPlace;
    QPushButton* CmdPlace;
    QCheckBox* ChkSub;
    QCheckBox* ChkBin;
    QLabel* LblCode;
    QComboBox* CboCode;  // 文字コード: how mode 0 reads files
    QPushButton* CmdRpl;
    QPushButton* CmdPreview;
    QPushButton* CmdUndo;
    QComboBox* CboType;
    QPushButton* CmdEnd;
    QLabel* LblPath;
    ClickLabel* LblStat;
    QFrame* LblCmd;
    QGroupBox* FraFN;
    std::array<QRadioButton*, 2> OptFN;
    std::array<QFrame*, 2> Line1;
    QFrame* ImgBase;

Q_SIGNALS:
    // The window has been closed and no run is left on the stack: the program may end.
    void ProgramEnded();

protected:
    // Dispatches every pending event; a Stop click runs to its end inside. After the window
    // has been closed no further event is handled.
    void YieldToEvents() override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A folder dragged onto the window goes into the folder box; see TakeFolderDrop.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void CboType_Click();
    void CboCode_Click();
    void OptFN_Click(int index);
    void CmdRpl_Click();
    void CmdPreview_Click();
    void CmdUndo_Click();
    void CmdEnd_Click();
    void CmdPlace_Click();
    void LblStat_Click();

private:
    // Filters one typed character of box `index`; sets `key` to 0 to discard it.
    void Cbobox_KeyPress(int index, char16_t& key);
    // Closing: ends the program, during a run once the run has let go.
    void Form_Unload();
    bool Idle() const;
    // While idle, a drag of a local folder is taken, and on the drop the folder goes into the
    // folder box; a file gives its folder. Anything else is refused and changes nothing.
    void TakeFolderDrop(QDropEvent* event);
    int BoxIndexOf(const QObject* watched) const;
    void PlaceLabel(QLabel& label, int left, int top, int height);

    // Starts `control` (a run or a preview) as a click on Start would.
    void Click(run::RunControl& control);
    // 元に戻す is enabled while the journal holds a run.
    void UpdateUndoButton();

    folder::PosixFileServices files_;
    folder::JournalWriter journal_;
    folder::JournallingFileServices journalled_;
    // A preview is a dry run; the new contents it would write are kept for its changed lines.
    folder::DryRunFileServices dry_;
    folder::DiffCapture captured_;
    run::RunControl run_;
    run::RunControl preview_run_;
    run::RunControl* active_ = nullptr;  // the run in progress, or null
    std::vector<PreviewRow> preview_rows_;
    std::u16string preview_totals_;
    QPointer<FrmAbout> about_;
    QPointer<FrmPreview> preview_;
    int click_depth_ = 0;
    bool closing_ = false;
};

}  // namespace popuran::ui
