// The window as a user drives it: modes, boxes, runs, preview, undo, drops; the program.
#include <cstdlib>

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temp_tree.h"
#include "ui/frm_main.h"
#include "ui/frm_preview.h"
#include "ui/mod_main.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << text.toStdString(); }

namespace popuran::ui {
namespace {

QString S(const char16_t* text) { return QString::fromStdU16String(text); }
using Texts = std::vector<QString>;

QApplication& App() {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("popuran-ui-test"), nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// A loaded window journalling into a fresh folder, its messages captured instead of shown.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        previous_ = ModMain::SetMessageRoutine(
            [this](QWidget*, const QString& text, const QString&) { messages.push_back(text); });
        // Every yield dispatches events, whatever the speed of the machine.
        w.SetYieldInterval(std::chrono::nanoseconds(0));
        w.Form_Load();
    }
    ~WindowTest() override { ModMain::SetMessageRoutine(std::move(previous_)); }

    // Typed as a keyboard delivers text: characters beyond ASCII carry no key code.
    void Type(QWidget* box, const QString& text) {
        for (const QChar c : text) {
            const int key = c.unicode() < 0x80 ? c.toUpper().unicode() : 0;
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(box, &press);
        }
    }
    void Commit(QWidget* box, const QString& text) {  // an input method's confirmed text
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(box, &event);
    }
    void Choose(int entry) {
        w.CboType->setCurrentIndex(entry);
        Q_EMIT w.CboType->activated(entry);
    }
    void Start(const char16_t* search, const char16_t* replacement, const char16_t* pattern,
               const std::string& folder, QPushButton* button = nullptr) {
        w.SetBoxText(0, search);
        w.SetBoxText(1, replacement);
        w.SetBoxText(2, pattern);
        w.Cbobox[3]->setEditText(QString::fromStdString(folder));
        QTest::mouseClick(button != nullptr ? button : w.CmdRpl, Qt::LeftButton);
    }
    QApplication& app_ = App();
    testing::TempTree state_{};
    const int state_set_ = setenv("XDG_STATE_HOME", state_.Root().c_str(), 1);
    FrmMain w;
    testing::TempTree tree;
    Texts messages;

private:
    ModMain::MessageRoutine previous_;
};

TEST_F(WindowTest, EachModeHasItsCaptionAndRowsAndHoldsDuringARun) {
    const struct {
        int entry, option, mode;  // the list entry chosen or else the option button clicked
        const char16_t* caption;
        const char16_t* labels;  // of boxes 0 and 1; nullptr: their rows are hidden
    } cases[] = {
        {1, -1, 1, u"拡張子置換", u"検索する拡張子(&F):置換後の拡張子(&W):"},
        {0, -1, 0, u"文字列置換", u"検索する文字列(&F):置換後の文字列(&W):"},
        {-1, 1, 3, u"ファイル名変換（小文字→大文字）", nullptr},
        {2, -1, 2, u"ファイル名変換（大文字→小文字）", nullptr},  // whichever button is set
        {1, -1, 1, u"拡張子置換", u"検索する拡張子(&F):置換後の拡張子(&W):"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        w.ChkBin->setChecked(false);  // every return to mode 0 checks it again
        if (c.entry >= 0) {
            Choose(c.entry);
        } else {
            QTest::mouseClick(w.OptFN[static_cast<std::size_t>(c.option)], Qt::LeftButton);
        }
        EXPECT_EQ(w.CurrentMode(), c.mode);
        EXPECT_EQ(w.windowTitle(), S(u"ぽぷらん ： ") + S(c.caption));
        EXPECT_EQ(w.FraFN->isHidden(), w.Cbobox[0]->isVisible() && w.LblRpl->isVisible());
        EXPECT_EQ(w.FraFN->isHidden(), c.labels != nullptr);
        if (c.labels != nullptr) {
            EXPECT_EQ(w.LblSrc->text() + w.LblRpl->text(), S(c.labels));
        }
        EXPECT_EQ(w.ChkBin->isVisible() && w.CboCode->isVisible() && w.ChkBin->isChecked(),
                  c.mode == 0);
    }
    w.CmdRpl->setText(S(u"中止"));  // while a run is active the mode stays
    Choose(2);
    EXPECT_EQ(w.CurrentMode(), 1);
    EXPECT_TRUE(w.CmdRpl->isDefault()) << "drawn as the button that Enter presses";
}

TEST_F(WindowTest, OnlyThePatternBoxFiltersWhatIsTyped) {
    const struct {
        int box;
        const char16_t* typed;
        const char16_t* shown;
    } cases[] = {
        {2, u"*.azAZ09", u"*.azAZ09"},
        {2, u"a?_- \u3000b/:@[`{c日本ｶﾅé", u"abc"},
        {0, u"a?_ 日", u"a?_ 日"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.typed).toStdString());
        QComboBox* box = w.Cbobox[static_cast<std::size_t>(c.box)];
        box->setEditText(QString());
        Type(box, S(c.typed));
        EXPECT_EQ(box->currentText(), S(c.shown));
    }
    // Editing keys and shortcuts still work; composed text is filtered, set text is not.
    QComboBox* box = w.Cbobox[2];
    box->setEditText(S(u"abc"));
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->currentText(), S(u"ab"));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    Type(box, S(u"x"));
    Commit(box, S(u"ｔ*.t_"));
    EXPECT_EQ(box->currentText(), S(u"x*.t"));
    Commit(w.Cbobox[1], S(u"日本_"));
    EXPECT_EQ(w.BoxText(1), u"日本_");
    // Enter in a box presses Start, the default button, and no other key does: the first box
    // at fault, the empty folder box, takes the focus.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(box, Qt::Key_F2);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(messages, Texts{S(u"検索する場所を指定して下さい。")});
    EXPECT_TRUE(w.Cbobox[3]->hasFocus());
}

// The running look while the run is inside a file; Stop greys the button; 終了 then ends the
// program once the run has let go, with no summary.
TEST_F(WindowTest, ARunShowsFileAndMarkerAndStopsWhenTheWindowCloses) {
    const std::string big(60000, 'a');  // long enough that the run yields many times in it
    tree.Create("big.txt", big);
    tree.Create("later.txt", "a");
    QSignalSpy ended(&w, &FrmMain::ProgramEnded);
    Texts running;
    auto* timer = new QTimer(&w);  // looks at the window at every yield
    QObject::connect(timer, &QTimer::timeout, timer, [&] {
        if (!w.LblStat->text().contains(QChar(0x25A0))) {  // no progress marker yet
            return;
        }
        timer->stop();
        running = {w.windowTitle(), w.CmdRpl->text(), w.LblPath->text(),
                   QString::number(w.LblStat->text().size()),
                   QString::number(w.CmdPreview->isEnabled())};
        QTest::mouseClick(w.CmdRpl, Qt::LeftButton);
        EXPECT_FALSE(w.CmdRpl->isEnabled()) << "no second stop click";
        QTest::mouseClick(w.CmdEnd, Qt::LeftButton);
        EXPECT_EQ(ended.count(), 0);
    });
    timer->start(0);
    Start(u"a", u"z", u"*.txt", tree.Root());
    EXPECT_EQ(running, (Texts{S(u"ぽぷらん ： 文字列置換\u3000[実行中]"), S(u"中止"),
                              QString::fromStdString(tree.Path("big.txt")), S(u"11"), S(u"0")}));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(tree.Read("big.txt") == big && tree.Read("later.txt") == "a");
}

TEST_F(WindowTest, PreviewThenRunThenUndoGiveBackTheFolder) {
    tree.Create("a.txt", "one abc two\r\nabc\r\n");
    tree.Create("b.txt", "nothing here");
    tree.Create("c.txt", "abc");
    EXPECT_FALSE(w.CmdUndo->isEnabled());
    Start(u"abc", u"XY", u"*.txt", tree.Root(), w.CmdPreview);
    FrmPreview* preview = w.Preview();
    ASSERT_NE(preview, nullptr);
    const PreviewModel& model = preview->Model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole),
              QString::fromStdString(tree.Path("a.txt")));
    EXPECT_EQ(model.data(model.index(0, 2), Qt::EditRole), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole), S(u"ファイル"));
    for (int section : {-1, 3}) {
        EXPECT_FALSE(model.headerData(section, Qt::Horizontal, Qt::DisplayRole).isValid());
    }
    EXPECT_FALSE(model.data(QModelIndex(), Qt::DisplayRole).isValid());
    EXPECT_TRUE(preview->LblTotals->text().contains(S(u"置換した文字列の数 = 3")));
    EXPECT_TRUE(preview->TxtLines->toPlainText().contains(S(u"+one XY two")));
    preview->LstFiles->selectionModel()->setCurrentIndex({}, QItemSelectionModel::Clear);
    EXPECT_TRUE(preview->TxtLines->toPlainText().isEmpty()) << "no file chosen, no lines";
    EXPECT_EQ(tree.Read("c.txt"), "abc");

    QTest::mouseClick(preview->CmdRun, Qt::LeftButton);
    QTRY_COMPARE(tree.Read("c.txt"), std::string("XY"));
    EXPECT_EQ(tree.Read("a.txt"), "one XY two\r\nXY\r\n");

    QString question;
    bool answer = false;
    const auto previous = ModMain::SetConfirmRoutine([&](QWidget*, const QString& text) {
        question = text;
        return answer;
    });
    for (bool yes : {false, true}) {
        answer = yes;
        QTest::mouseClick(w.CmdUndo, Qt::LeftButton);
        EXPECT_EQ(tree.Read("c.txt"), yes ? "abc" : "XY");
    }
    ModMain::SetConfirmRoutine(previous);
    EXPECT_TRUE(question.contains(S(u"2 個のファイル"))) << question.toStdString();
    EXPECT_EQ(tree.Read("a.txt"), "one abc two\r\nabc\r\n");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].startsWith(S(u"元に戻したファイルの数 = 2")));
    EXPECT_FALSE(w.CmdUndo->isEnabled());
}

// A pair of lines shows the span that differs; other lines are shown as they are, escaped.
TEST(DiffToHtml, PairsShowTheirReplacedSpansAndOtherLinesAsTheyAre) {
    EXPECT_EQ(DiffToHtml(QStringLiteral("--- a\n+++ b\n@@ -1 +1 @@\n-x abc y\n-aa\n+x XY y\n+aaa\n"
                                        " <c>\n-gone\n\\ end\n")),
              QStringLiteral(R"(<div style="font-family:monospace; white-space:pre">)"
                             R"(<div style="background:#eee">@@ -1 +1 @@</div>)"
                             R"(<div style="background:#fdd">-x <b><u>abc</u></b> y</div>)"
                             R"(<div style="background:#fdd">-aa<b><u></u></b></div>)"
                             R"(<div style="background:#dfd">+x <b><u>XY</u></b> y</div>)"
                             R"(<div style="background:#dfd">+aa<b><u>a</u></b></div>)"
                             R"(<div style="background:#fff"> &lt;c&gt;</div>)"
                             R"(<div style="background:#fdd">-gone</div></div>)"));
}

TEST_F(WindowTest, AFolderDroppedAnywhereFillsTheFolderBox) {
    tree.Create("文書/memo.txt", "x");
    tree.MakeFolder(std::string("d\xFF"));  // a name that is not UTF-8
    const QString root = QString::fromStdString(tree.Root());
    const QByteArray url = QUrl::fromLocalFile(root).toEncoded();
    const struct {
        QByteArray url;
        bool on_box;  // dropped on box 0 instead of the window
        QString folder;
    } cases[] = {
        {url + "/%E6%96%87%E6%9B%B8", false, root + S(u"/文書")},
        {url + "/%E6%96%87%E6%9B%B8/memo.txt", true, root + S(u"/文書")},
        {url + "/d%FF", false, root + S(u"/d") + QChar(0xDCFF)},
        {"https://example.org/a/", true, S(u"/before")},
        {url + "/gone", false, S(u"/before")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        QMimeData data;
        data.setUrls({QUrl::fromEncoded(c.url)});
        data.setText(QString::fromLatin1(c.url));
        w.SetBoxText(0, u"text");
        w.SetBoxText(3, u"/before");
        QWidget* target = c.on_box ? static_cast<QWidget*>(w.Cbobox[0]->lineEdit()) : &w;
        QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        EXPECT_EQ(w.BoxText(3), u"/before") << "only the drop fills the box";
        QDropEvent drop({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        EXPECT_EQ(enter.isAccepted() && drop.isAccepted(), c.folder != S(u"/before"));
        EXPECT_EQ(w.Cbobox[3]->currentText(), c.folder);
        EXPECT_EQ(w.BoxText(0), u"text");
    }
    ASSERT_TRUE(ModMain::UseJapaneseQtTexts(app_));  // Debian's qt6-translations-l10n
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), S(u"キャンセル"));
}

// Without a screen the program refuses to start; with one (offscreen) it starts.
TEST(WindowProgram, StartsOnlyWithAScreen) {
    testing::TempTree tree;
    for (const char* platform : {"QT_QPA_PLATFORM=", "QT_QPA_PLATFORM=offscreen"}) {
        const auto run = testing::RunProgram(
            "/usr/bin/env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", platform, POPURAN_GUI,
                             "--write-icon", tree.Path("icon.png")});
        EXPECT_EQ(run.status, platform[16] != '\0' ? 0 : 2) << run.err;
    }
}

}  // namespace
}  // namespace popuran::ui
