// The window on a desktop: folders dropped on it, and Qt's own texts in Japanese.
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

#include "support/temp_tree.h"
#include "ui/qt_text.h"
#include "ui_harness.h"

namespace popuran::testing {
namespace {

class DropTest : public WindowTest {
protected:
    // Drags `data` over `target` and drops it there, as a file manager would; returns whether
    // the drag was taken.
    bool Drop(QWidget* target, const QMimeData& data) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
        return drop.isAccepted();
    }

    QString Root() const { return QString::fromStdString(tree.Root()); }

    TempTree tree;
};

TEST_F(DropTest, ALocalFolderOrFileFillsTheFolderBoxAndNothingElse) {
    tree.Create("文書/memo.txt", "x");
    tree.MakeFolder(std::string("d\xFF"));  // a name that is not UTF-8
    // What a file manager drags: the URLs, and the same as text for programs that take text.
    auto urls = [](std::initializer_list<const char*> encoded) {
        auto* data = new QMimeData;
        QList<QUrl> list;
        QString text;
        for (const char* url : encoded) {
            list.append(QUrl::fromEncoded(url));
            text += QString::fromLatin1(url) + QLatin1Char('\n');
        }
        data->setUrls(list);
        data->setText(text);
        return data;
    };
    const QByteArray root = QUrl::fromLocalFile(Root()).toEncoded();
    const QByteArray folder = root + "/%E6%96%87%E6%9B%B8";
    const QByteArray file = folder + "/memo.txt";
    const QByteArray odd = root + "/d%FF";
    const struct {
        QMimeData* data;
        bool onBox0;  // dropped on the search box instead of the window
        QString folder_box;
        const char* why;
    } cases[] = {
        {urls({folder.data()}), false, Root() + QStringLiteral("/文書"), "a folder"},
        {urls({file.data(), root.data()}), false, Root() + QStringLiteral("/文書"),
         "a file gives its folder"},
        {urls({folder.data()}), true, Root() + QStringLiteral("/文書"), "dropped on a text box"},
        {urls({odd.data()}), false, Root() + QStringLiteral("/d") + QChar(0xDCFF),
         "a name that is not UTF-8"},
        {urls({"https://example.org/a/"}), true, QStringLiteral("/before"), "not a local file"},
        {urls({(root + "/gone").data()}), false, QStringLiteral("/before"),
         "a path that does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::unique_ptr<QMimeData> owned(c.data);
        for (int i = 0; i < 4; ++i) {
            window_.Cbobox[i]->setEditText(i == run::kFolderBox ? QStringLiteral("/before")
                                                                : QStringLiteral("text"));
        }
        QWidget* target =
            c.onBox0 ? static_cast<QWidget*>(window_.Cbobox[0]->lineEdit()) : &window_;
        EXPECT_EQ(Drop(target, *c.data), c.folder_box != QStringLiteral("/before"));
        EXPECT_EQ(window_.Cbobox[run::kFolderBox]->currentText(), c.folder_box);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(window_.Cbobox[i]->currentText(), QStringLiteral("text"));
        }
        EXPECT_EQ(window_.Cbobox[run::kFolderBox]->count(), 0);
    }
}

// Only the drop itself fills the box: a drag that passes over the window changes nothing, and
// during a run the drag is refused.
TEST_F(DropTest, ADragThatIsNotDroppedOrComesDuringARunChangesNothing) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Root())});
    window_.Cbobox[run::kFolderBox]->setEditText(QStringLiteral("/before"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window_, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(window_.Cbobox[run::kFolderBox]->currentText(), QStringLiteral("/before"));

    window_.CmdRpl->setText(ui::ToQString(run::kStopCaption));
    EXPECT_FALSE(Drop(&window_, data));
    window_.CmdRpl->setText(ui::ToQString(run::kStartCaption));
    EXPECT_EQ(window_.Cbobox[run::kFolderBox]->currentText(), QStringLiteral("/before"));
}

// Qt's Japanese texts come from Debian's qt6-translations-l10n, which the test command installs.
TEST(UseJapaneseQtTexts, TheFolderPickerAndTheButtonsSpeakJapanese) {
    ASSERT_TRUE(ui::ModMain::UseJapaneseQtTexts(App()));
    const struct {
        const char* context;
        const char* english;
        QString japanese;
    } texts[] = {
        {"QFileDialog", "Look in:", QStringLiteral("アドレス:")},
        {"QFileDialog", "Directory:", QStringLiteral("ディレクトリ:")},
        {"QPlatformTheme", "Cancel", QStringLiteral("キャンセル")},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.english);
        EXPECT_EQ(QCoreApplication::translate(t.context, t.english), t.japanese);
    }
}

}  // namespace
}  // namespace popuran::testing
