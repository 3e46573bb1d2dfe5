// Every mode on a FAT file system, as on a USB stick: an image mounted through FUSE (fusefat),
// which has no permission bits, owners, hard links or RENAME_NOREPLACE, and ignores letter case.
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

constexpr long kFuseMagic = 0x65735546;

bool OnPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

class FatTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            GTEST_SKIP() << "no usable /dev/fuse";
        }
        if (!OnPath("fusefat") || !OnPath("mkfs.vfat") || !OnPath("fusermount")) {
            GTEST_SKIP() << "fusefat, mkfs.vfat (dosfstools) or fusermount is not installed";
        }
        tree_.MakeFolder("mnt");
        const std::string image = "'" + tree_.Path("img") + "' ";
        const std::string mount_point = "'" + tree_.Path("mnt") + "'";
        struct statfs fs {};
        mounted_ =
            std::system(("mkfs.vfat -C " + image + "8192 >/dev/null 2>&1").c_str()) == 0 &&
            std::system(("fusefat -o rw+ " + image + mount_point + " >/dev/null 2>&1").c_str()) ==
                0 &&
            statfs(tree_.Path("mnt").c_str(), &fs) == 0 && fs.f_type == kFuseMagic;
        if (!mounted_) {
            GTEST_SKIP() << "could not make or mount a FAT image";
        }
    }
    void TearDown() override {
        if (mounted_) {
            EXPECT_EQ(std::system(("fusermount -u '" + tree_.Path("mnt") + "'").c_str()), 0);
        }
    }

    // One run over mnt/t; returns its summary.
    std::string Run(run::RunMode mode, const char16_t* search, const char16_t* replace,
                    const char16_t* pattern) {
        folder::PosixFileServices files;
        auto run =
            RunFromWindow(files, mode, {search, replace, pattern, tree_.Text("mnt/t")}, false);
        failures_ = run.failures;
        return run.messages.empty() ? std::string() : U8(run.messages.back());
    }

    TempTree tree_;
    bool mounted_ = false;
    std::vector<run::FailedFile> failures_;
};

TEST_F(FatTest, EveryModeDoesItsWorkAndNoRenameOverwrites) {
    tree_.Create("mnt/t/README.TXT", "a needle b");
    tree_.Create("mnt/t/Memo.Txt", "needle");
    tree_.Create("mnt/t/page.htm", "p");
    tree_.Create("mnt/t/other.htm", "o");
    tree_.Create("mnt/t/other.html", "taken");
    EXPECT_EQ(Run(run::kModeReplace, u"needle", u"N", u"*.txt"),
              "検索したファイルの数 = 2\r置換したファイルの数 = 2\r置換した文字列の数 = 2");
    EXPECT_TRUE(failures_.empty());
    EXPECT_EQ(tree_.Read("mnt/t/README.TXT"), "a N b");
    EXPECT_EQ(tree_.Read("mnt/t/README.TXT.BAK"), "a needle b");

    // other.html is taken: other.htm keeps its name and the file there is untouched.
    EXPECT_EQ(
        Run(run::kModeExtension, u"htm", u"html", u"*"),
        "検索したファイルの数 = 2\r置換したファイルの数 = 1\r処理できなかったファイルの数 = 1");
    ASSERT_EQ(failures_.size(), 1u);
    EXPECT_EQ(U8(failures_[0].path), tree_.Path("mnt/t/other.htm"));
    EXPECT_EQ(tree_.Read("mnt/t/other.html"), "taken");
    EXPECT_EQ(tree_.Read("mnt/t/page.html"), "p");

    // Case-only renames, where the file system takes both spellings for one name.
    tree_.Create("mnt/t/other.htm", "");  // an empty file is left alone, so it cannot collide
    EXPECT_EQ(Run(run::kModeLower, u"", u"", u"*"),
              "検索したファイルの数 = 7\r変換したファイルの数 = 4");
    EXPECT_TRUE(failures_.empty());
    EXPECT_EQ(tree_.Names("mnt/t"),
              (std::vector<std::string>{"memo.txt", "memo.txt.bak", "other.htm", "other.html",
                                        "page.html", "readme.txt", "readme.txt.bak"}));
    EXPECT_EQ(Run(run::kModeUpper, u"", u"", u"*.TXT"),
              "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    EXPECT_TRUE(failures_.empty());
    EXPECT_EQ(tree_.Read("mnt/t/README.TXT"), "a N b");
    EXPECT_EQ(tree_.Read("mnt/t/MEMO.TXT"), "N");
}

}  // namespace
}  // namespace popuran::testing
