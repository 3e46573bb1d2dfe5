// Type detection on the kinds of files found on real systems (issue 15): audio evidence for mp3,
// pages as they are written today, application names only in compound documents, and the
// system's type database for everything the rules do not name.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filetype/extension_by_content.h"
#include "folder/renaming.h"
#include "folder/services/dry_run_file_services.h"
#include "folder/services/path_helpers.h"
#include "run/state/run_state.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::filetype {
namespace {

using testing::U16;
using testing::U8;

std::string Bytes(const char* literal, std::size_t size) { return std::string(literal, size); }

// An MPEG audio frame: its four header bytes, then zeros up to its length.
std::string Frame(const std::string& header, std::size_t length) {
    std::string frame = header;
    frame.resize(length, '\0');
    return frame;
}

// MPEG 1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame, 418 with the padding bit.
const std::string kMpeg1 = Bytes("\xff\xfb\x90\x00", 4);
const std::string kMpeg1Padded = Bytes("\xff\xfb\x92\x00", 4);
// MPEG 2 Layer III, 32 kbit/s, 22.05 kHz (as a speech encoder writes it): 104 bytes a frame.
const std::string kMpeg2 = "\xff\xf3\x40\xc4";
const std::string kTwoFrames = Frame(kMpeg1, 417) + Frame(kMpeg1, 417);
// ID3v2.3 with 10 bytes of frames: a 20-byte tag.
const std::string kId3 = Bytes("ID3\x03\0\0\0\0\0\x0a", 10) + std::string(10, 'T');
const std::string kOle = Bytes("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\0\0", 10);
const std::string kExif = Bytes(
    "\xff\xd8\xff\xe1\0\x18"
    "Exif\0\0MM\0\x2a\0\0\0\x08\0\0",
    22);

struct Case {
    const char* name;
    std::string bytes;
    const char* expected;
    const char* why;
};

// Each case's bytes under its name, told with the database when one is given.
void RunCases(const std::vector<Case>& cases, MagicDatabase* database) {
    testing::TempTree tree;
    folder::PosixFileServices files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        tree.Create(c.name, c.bytes);
        const folder::Result<std::u16string> got =
            ExtensionByContent(files, tree.Text(c.name), database);
        ASSERT_TRUE(got.has_value()) << got.error().Describe();
        EXPECT_EQ(U8(*got), c.expected);
    }
}

TEST(ExtensionByContent, RealFilesAreNamedLikeTheTypeDatabaseNamesThem) {
    MagicDatabase database;
    RunCases(
        {
            {"ls",
             Bytes("\x7f"
                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3e\0",
                   20) +
                 std::string(60, '\0') + "mp3 colours",
             "", "a program holding mp3"},
            {"font.mp3",
             Bytes("\0\1\0\0\0\x0c\0\x80\0\x03\0\x40", 12) + "cmap" + std::string(12, '\0') + "mp3",
             "ttf", "a font holding mp3"},
            {"song.dat", kId3 + kTwoFrames, "mp3", "ID3 tag, then frames"},
            {"song", Frame(kMpeg2, 104) + Frame(kMpeg2, 104) + kMpeg2, "mp3", "frames, no tag"},
            {"page.txt", "<!DOCTYPE html>\n<p>\x93\xfa\x96\x7b", "html", "document type"},
            {"page", "<html lang=\"ja\">\n<p>x</p>", "html", "html tag with an attribute"},
            {"photo.txt", kExif, "jpg", "Exif JPEG: the rules' own name for JPEG"},
            {"photo.JPEG", kExif, "jpeg", "an extension the database lists is kept"},
            {"image.txt",
             Bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0", 29), "png",
             "PNG"},
            {"memo", kOle + "Microsoft Word", "doc", "compound document naming its application"},
            {"sheet", kOle + "Microsoft Word, Microsoft Excel", "xls", "Excel before Word"},
            {"memo.bin", std::string(10, '\0') + "Microsoft Word", "", "not a compound document"},
            {"memo.txt", "Microsoft Word", "txt", "plain text naming the application"},
            {"blob.dat", std::string(64, '\0') + "\x01\x02\x03", "", "unknown to the database too"},
            {"icon.txt", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "svg",
             "SVG is text the database knows by its opening"},
            {"Release", "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n", "asc", "PGP armour"},
            {"image", "P1\n2 2\n0 1\n1 0\n", "pbm", "plain PBM"},
            {"icon", "/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n};\n", "xpm", "XPM"},
            {"notes.dat", "<p>a note</p>", "txt", "markup that is no known format"},
            {"lib.zip",
             Bytes("PK\x03\x04\x0a\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x09\0\x04\0"
                   "META-INF/\xfe\xca\0\0",
                   43),
             "jar", "a Java archive is named for what opens it"},
            {"lib.dat",
             Bytes("PK\x03\x04\x0a\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x05\0\0\0"
                   "a.txt",
                   35),
             "zip", "a plain zip archive"},
        },
        &database);
}

TEST(ExtensionByContent, Mp3NeedsATagOrTwoFramesThatFollowOneAnother) {
    const std::string tag_past_head =
        Bytes("ID3\x03\0\0\0\x09\x28\0", 10) + std::string(150010, '\0');  // 150016-byte tag
    RunCases(
        {
            {"a", kTwoFrames + kMpeg1, "mp3", "two frames at the start"},
            {"a", Frame(kMpeg1Padded, 418) + kMpeg1, "mp3", "the padding bit adds a byte"},
            {"a", Frame(kMpeg1Padded, 417) + kTwoFrames, "", "second header one byte early"},
            {"a", Frame(kMpeg1, 417) + std::string(8, '\x01'), "", "one frame, then no header"},
            {"a", Frame(kMpeg1, 420), "", "one frame, then the end of the file"},
            {"a", Bytes("ID3\x02\0\0\0\0\0\x00", 10) + kTwoFrames, "mp3", "an ID3v2.2 tag"},
            {"a", Frame(kMpeg1, 417) + kMpeg2, "", "second header of another stream"},
            {"a", Frame("\xff\xe3\x40\xc4", 208) + "\xff\xe3\x40\xc4", "mp3", "MPEG 2.5"},
            {"a", Frame(Bytes("\xff\xfd\x90\x00", 4), 417) + Bytes("\xff\xfd\x90\x00", 4), "",
             "Layer II"},
            {"a", Frame(Bytes("\xff\xfb\x00\x00", 4), 417) + kMpeg1, "", "free bitrate"},
            {"a", Frame(Bytes("\xff\xfb\xf0\x00", 4), 417) + kMpeg1, "", "bitrate index 15"},
            {"a", Frame(Bytes("\xff\xfb\x9c\x00", 4), 417) + kMpeg1, "", "sampling rate index 3"},
            {"a", Frame("\xff\xeb\x40\xc4", 104) + "\xff\xeb\x40\xc4", "", "reserved version"},
            {"a", Frame(Bytes("\xff\xfb\x90\x02", 4), 417) + kMpeg1, "", "reserved emphasis"},
            {"a", kId3 + std::string(30, '\0') + kTwoFrames, "mp3", "zeros after the tag"},
            {"a", Bytes("ID3\x04\0\x10\0\0\0\x0a", 10) + std::string(20, 'T') + kTwoFrames, "mp3",
             "an ID3v2.4 footer"},
            {"a", kId3 + std::string(40, 'x') + '\0', "", "a tag, then no frames"},
            {"a", Bytes("ID3\x05\0\0\0\0\0\x0a", 10) + std::string(10, 'T') + kTwoFrames, "",
             "unknown tag version"},
            {"a", Bytes("ID3\x03\0\0\0\0\x80\x0a", 10) + std::string(10, 'T') + kTwoFrames, "",
             "a size byte of eight bits"},
            {"a", tag_past_head, "mp3", "a tag too long for the head"},
        },
        nullptr);
}

TEST(ExtensionByContent, PagesAreToldByTheirDocumentTypeOrHtmlTag) {
    RunCases(
        {
            {"a", "x <!doctype HTML PUBLIC", "html", "document type in any case"},
            {"a", "<HTML\r\n<BODY>", "html", "tag name, then a line end"},
            {"a", "<html\tdir=ltr>", "html", "tag name, then a tab"},
            {"a", "<html>", "html", "a bare html tag"},
            {"a", "<htmlx><html-like>", "txt", "a longer tag name"},
            {"a", "<head><title>t</title><body> <html", "txt", "html at the very end"},
            {"a", "<!doctype htm>", "txt", "document type of something else"},
        },
        nullptr);
}

// The dry run reads the same bytes as the run, so it renames exactly as the run will.
TEST(ReplaceExtension, DryRunPredictsRenamesByContent) {
    testing::TempTree tree;
    const std::vector<std::pair<const char*, std::string>> files = {
        {"font.mp3",
         Bytes("\0\1\0\0\0\x0c\0\x80\0\x03\0\x40", 12) + "cmap" + std::string(20, '\0')},
        {"song.dat", kId3 + kTwoFrames},
        {"photo.txt", kExif},
        {"blob.dat", std::string(64, '\0') + "\x01\x02\x03"},
    };
    for (const auto& [name, bytes] : files) {
        tree.Create(name, bytes);
    }
    const auto run = [&](folder::FileServices& services) {
        run::RunState state;
        state.CurrentMode = run::kModeExtension;
        state.SearchText = u"*";
        state.ReplaceText = u"*";
        testing::FakeView view;
        folder::Work work{state, view, services};
        std::int32_t handled = 0;
        std::vector<std::string> renames;
        for (const auto& file : files) {
            folder::ReplaceExtension(work, tree.Text(file.first), handled);
        }
        for (const run::Change& change : view.changes) {
            renames.push_back(U8(folder::FileNameOf(change.path)) + " -> " +
                              U8(folder::FileNameOf(change.new_path)));
        }
        EXPECT_EQ(state.ChangedFileCount, static_cast<std::int32_t>(renames.size()));
        return renames;
    };
    folder::PosixFileServices real;
    folder::DryRunFileServices dry(real);
    const std::vector<std::string> expected = {"font.mp3 -> font.ttf", "song.dat -> song.mp3",
                                               "photo.txt -> photo.jpg"};
    EXPECT_EQ(run(dry), expected);
    EXPECT_EQ(tree.Names(),
              (std::vector<std::string>{"blob.dat", "font.mp3", "photo.txt", "song.dat"}));
    EXPECT_EQ(run(real), expected);
    EXPECT_EQ(tree.Names(),
              (std::vector<std::string>{"blob.dat", "font.ttf", "photo.jpg", "song.mp3"}));
}

}  // namespace
}  // namespace popuran::filetype
