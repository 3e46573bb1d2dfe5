// Type detection: mp3 evidence and the system's type database. The signature rows,
// pages and the application names of compound documents are checked against a reference by the
// type detection fuzzer, whose seeds run as a test too.
#include "filetype/extension_by_content.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::filetype {
namespace {

using testing::FakeFileServices;
using testing::FileOp;
using testing::U8;

std::string Bytes(const char* literal, std::size_t size) { return std::string(literal, size); }

// An MPEG audio frame: its four header bytes, then zeros up to its length.
std::string Frame(const std::string& header, std::size_t length) {
    return header + std::string(length - header.size(), '\0');
}

const std::size_t kPiece = std::size_t{1} << 20;  // compound documents are read in these
const std::string kOle = Bytes("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\0\0", 10);
// MPEG 1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame, 418 with the padding bit.
const std::string kMpeg1 = Bytes("\xff\xfb\x90\x00", 4);
const std::string kTwoFrames = Frame(kMpeg1, 417) + Frame(kMpeg1, 417);
const std::string kId3 = Bytes("ID3\x03\0\0\0\0\0\x0a", 10) + std::string(10, 'T');  // 20 bytes
const std::string kExif = Bytes(
    "\xff\xd8\xff\xe1\0\x18"
    "Exif\0\0MM\0\x2a\0\0\0\x08\0\0",
    22);
const std::string kFont =
    Bytes("\0\1\0\0\0\x0c\0\x80\0\x03\0\x40", 12) + "cmap" + std::string(12, '\0') + "mp3";

struct Case {
    const char* name;
    std::string bytes;
    const char* expected;  // UTF-8
    const char* why;
};

// Each case's bytes under its name, told through services that count every call, with the
// system's type database when one is given.
void RunCases(const std::vector<Case>& cases, MagicDatabase* database = nullptr) {
    testing::TempTree tree;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        tree.Create(c.name, c.bytes);
        FakeFileServices files;
        const auto got = ExtensionByContent(files, tree.Text(c.name), database);
        EXPECT_EQ(files.Calls(FileOp::ReadAll), 0) << "a file is never read whole at once";
        ASSERT_TRUE(got.has_value()) << got.error().Describe();
        EXPECT_EQ(U8(*got), c.expected);
    }
}

TEST(ExtensionByContent, Mp3NeedsATagOrTwoFramesThatFollowOneAnother) {
    RunCases({
        {"a", kTwoFrames + kMpeg1, "mp3", "two frames at the start"},
        {"a", Frame(Bytes("\xff\xfb\x92\x00", 4), 418) + kMpeg1, "mp3", "the padding bit"},
        {"a", Frame(Bytes("\xff\xfb\x92\x00", 4), 417) + kTwoFrames, "", "one byte early"},
        {"a", Frame(kMpeg1, 420), "", "one frame, then the end of the file"},
        {"a", Frame(kMpeg1, 417) + "\xff\xf3\x40\xc4", "", "second header of another stream"},
        {"a", Frame("\xff\xe3\x40\xc4", 208) + "\xff\xe3\x40\xc4", "mp3", "MPEG 2.5"},
        {"a", Frame(Bytes("\xff\xfd\x90\x00", 4), 417) + Bytes("\xff\xfd\x90\x00", 4), "",
         "Layer II"},
        {"a", Frame(Bytes("\xff\xfb\xf0\x00", 4), 417) + kMpeg1, "", "bitrate index 15"},
        {"a", Frame(Bytes("\xff\xfb\x90\x02", 4), 417) + kMpeg1, "", "reserved emphasis"},
        {"a", kId3 + std::string(30, '\0') + kTwoFrames, "mp3", "zeros after the tag"},
        {"a", Bytes("ID3\x04\0\x10\0\0\0\x0a", 10) + std::string(20, 'T') + kTwoFrames, "mp3",
         "an ID3v2.4 footer"},
        {"a", Bytes("ID3\x05\0\0\0\0\0\x0a", 10) + std::string(10, 'T') + kTwoFrames, "",
         "unknown tag version"},
        {"a", Bytes("ID3\x03\0\0\0\x09\x28\0", 10) + std::string(150010, '\0'), "mp3",
         "a tag too long for the head"},
    });
}

TEST(ExtensionByContent, TheTypeDatabaseNamesWhatTheRulesDoNot) {
    MagicDatabase database;
    RunCases(
        {
            {"ls",
             Bytes("\x7f"
                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3e\0",
                   20) +
                 std::string(60, '\0') + "mp3 colours",
             "", "a program holding mp3"},
            {"font.mp3", kFont, "ttf", "a font holding mp3"},
            {"song.dat", kId3 + kTwoFrames, "mp3", "the rules come first"},
            {"photo.txt", kExif, "jpg", "Exif JPEG: the rules' own name for JPEG"},
            {"photo.JPEG", kExif, "jpeg", "an extension the database lists is kept"},
            {"memo", kOle + "Microsoft Word", "doc", "compound document naming its application"},
            {"memo.txt", "Microsoft Word", "txt", "plain text naming the application"},
            {"blob.dat", std::string(64, '\0') + "\x01\x02\x03", "", "unknown to the database"},
            {"icon.txt", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "svg", "SVG"},
            {"Release", "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n", "asc", "PGP"},
            {"image", "P1\n2 2\n0 1\n1 0\n", "pbm", "plain PBM"},
            {"raw", "P5 1 1 255\n\xff", "pgm", "raw PGM opens like PBM"},
            {"notes", "P7\nWIDTH 1\n", "txt", "only P1 to P6 are asked about"},
            {"icon", "/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n};\n", "xpm", "XPM"},
            {"notes.dat", "<p>a note</p>", "txt", "markup that is no known format"},
            {"lib.zip",
             Bytes("PK\x03\x04\x0a\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x09\0\x04\0"
                   "META-INF/\xfe\xca\0\0",
                   43),
             "jar", "a Java archive"},
        },
        &database);
}

}  // namespace
}  // namespace popuran::filetype
