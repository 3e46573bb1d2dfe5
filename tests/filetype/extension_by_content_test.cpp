// Type detection on real files: signature rows and their order, html markers, application names
// in the whole of a compound document, the 150000-byte head, the range error and failures.
#include "filetype/extension_by_content.h"

#include <cerrno>
#include <memory>
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

const std::string kBinary(10, '\0');  // a zero byte in the head makes a file binary
// A compound document's signature and two zero bytes.
const std::string kOle("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\0\0", 10);
const std::size_t kPiece = std::size_t{1} << 20;

std::string Bytes(const char* literal, std::size_t size) { return std::string(literal, size); }

struct Case {
    std::string bytes;
    const char* expected;  // UTF-8; "ERANGE" for the range error
    const char* why;
};

// Each case's bytes as a file, told through services that count every call.
void RunCases(const std::vector<Case>& cases) {
    testing::TempTree tree;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        tree.Create("file", c.bytes);
        FakeFileServices files;
        const folder::Result<std::u16string> got = ExtensionByContent(files, tree.Text("file"));
        EXPECT_EQ(files.Calls(FileOp::ReadAll), 0) << "a file is never read whole at once";
        if (std::string(c.expected) == "ERANGE") {
            ASSERT_FALSE(got.has_value()) << U8(*got);
            EXPECT_EQ(got.error().code, std::errc::result_out_of_range);
        } else {
            ASSERT_TRUE(got.has_value()) << got.error().Describe();
            EXPECT_EQ(U8(*got), c.expected);
        }
    }
}

TEST(ExtensionByContent, TextIsHtmlByTheMarkersInTheHead) {
    const std::string html = "<html><head><title>t</title></head><body>";
    RunCases({
        {"a", "txt", "one letter"},
        {"<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY bgcolor=white>x</BODY></HTML>", "html",
         "upper case, body with attributes"},
        {"<Html><hEaD><TiTlE>t</tItLe><BoDy>", "html", "mixed case"},
        {"<title>t</title><body><head><html>", "html", "any order"},
        {"<HTML><HEAD></HEAD><BODY>x</BODY></HTML>", "html", "no title"},
        {"<head><title>t</title></head><body>", "txt", "no html tag"},
        {"\x93\xfa\x96\x7b<html><head><title>\x8c\xa9</title><body>", "html",
         "double-byte text around the markers"},
        {"\x01\x02\x03", "txt", "control bytes without a zero are text"},
        {html + std::string(150000 - html.size(), 'x') + '\0', "html", "a zero past the head"},
        {html + std::string(149999 - html.size(), 'x') + '\0', "", "a zero at the head's end"},
    });
}

TEST(ExtensionByContent, EachSignatureRowGivesItsAnswer) {
    RunCases({
        {Bytes("\xff\xd8\xff\xe0\0\x10JFIF\0\x01", 12), "jpg", "JFIF at 6"},
        {Bytes("\xff\xd8\xff\xe0\0\x10jFiF\0\x01", 12), "jpg", "jfif in mixed case"},
        {Bytes("GIF89a\x01\0\x01\0\0\0", 12), "gif", "GIF89a"},
        {Bytes("gif89a\x01\0\x01\0\0\0", 12), "gif", "gif in lower case"},
        {Bytes("BM\x36\0\0\0\0\0\0\0\0\0", 12), "bmp", "BM"},
        {Bytes("MZ\x90\0\x03\0\0\0\x04\0\0\0", 12), "exe", "MZ"},
        {Bytes("PK\x03\x04\x14\0\0\0\x08\0\0\0", 12), "zip", "PK"},
        {Bytes("\x20\0-lh5-\0\0\0\0\0", 12), "lzh", "lh at 3, anything at 0 to 2"},
        {Bytes("MThd\0\0\0\x06\0\x01\0\x02", 12), "mid", "MThd"},
        {Bytes("RIFF\x24\0\0\0WAVEfmt ", 16), "wav", "RIFF WAVE"},
        {Bytes("RIFF\x24\0\0\0AVI LIST", 16), "avi", "RIFF AVI and a blank"},
        {Bytes("riff\x24\0\0\0aviX", 12), "avi", "lower case, offset 11 not looked at"},
        {Bytes(".ra\xfd\0\x04\0\0\0\0\0\0", 12), "ra", "dot ra"},
        {Bytes("\0rA\0\0\0\0\0\0\0\0\0", 12), "ra", "ra after any first byte"},
        {Bytes("%PDF-1.4\0\0\0\0", 12), "pdf", "percent PDF"},
        {Bytes("\0pdf\0\0\0\0\0\0\0\0", 12), "pdf", "pdf after any first byte"},
        {Bytes("MSCF\0\0\0\0\0\0\0\0", 12), "cab", "MSCF"},
    });
}

TEST(ExtensionByContent, EarlierRowsWinFailedRowsFallThroughAndShortHeadsAreRangeErrors) {
    RunCases({
        {Bytes("MZ\x90\0\0\0JFIF", 10), "jpg", "JFIF beats MZ"},
        {Bytes("\xff\xd8\xff\xe1\0\x18"
               "Exif\0\0",
               12),
         "", "Exif is no row"},
        {Bytes("RIFF\x24\0\0\0RMID", 12), "", "RMID is neither WAVE nor AVI"},
        {Bytes("RIFF\x24\0\0\0WAVX", 12), "", "WAVE failing at 11 and AVI at 8"},
        {Bytes("RIFF\x24\0\0\0RMID Microsoft Word", 27), "", "RMID goes on, not a document"},
        {Bytes("\0\0\0\0\0\0\0", 7), "", "seven zero bytes reach no offset past the head"},
        {Bytes("\0", 1), "ERANGE", "one zero byte"},
        {Bytes("GIF8\0a", 6), "ERANGE", "six bytes fail at row 1 whatever they hold"},
        {Bytes("\0\0\0\0\0\0JF", 8), "ERANGE", "JF at 6 reaches offset 8"},
        {Bytes("RIFF\0\0\0\0", 8), "ERANGE", "RIFF reaches offset 8"},
        {Bytes("RIFF\0\0\0\0WA", 10), "ERANGE", "WAVE reaches offset 10"},
        {Bytes("RIFF\0\0\0\0XY", 10), "", "WAVE and AVI both fail at 8"},
    });
}

// The application names are searched in all of a compound document, read in pieces of 1 MiB.
TEST(ExtensionByContent, ApplicationNamesInTheirOrderAnywhereInACompoundDocument) {
    const std::string z(kPiece - 11, 'z');
    RunCases({
        {kOle + "Microsoft Word and Microsoft Excel", "xls", "Excel before Word"},
        {kOle + "Microsoft Word", "doc", "Word alone"},
        {kOle + "microsoft word", "", "application names respect case"},
        {kBinary + "Microsoft Word", "", "not a compound document"},
        {kOle + "mp3 MP3", "", "mp3 is no application name"},
        {kOle + " Microsoft Word", "doc", "a blank before the name"},
        {kOle + "\x81Microsoft Word", "", "a lead byte swallows the M"},
        {kOle + "\x81\x81Microsoft Word", "doc", "a whole double-byte character before the M"},
        {kOle + "Microsoft Word\x81", "doc", "a lead byte at the very end"},
        {kOle + std::string(3 * kPiece, 'z') + "Microsoft Word", "doc", "in the fourth piece"},
        {kOle + z + "\x81Microsoft Word" + z, "", "the swallowed M starts the second piece"},
        {kOle + z + "\x81\x81Microsoft Word" + z, "doc",
         "a character across the pieces, then the M"},
        {kOle + z.substr(4) + "Microsoft Excel", "xls", "a name across the pieces"},
    });
}

TEST(ExtensionByContent, AnEmptyFileIsARangeErrorWithoutBeingRead) {
    testing::TempTree tree;
    tree.Create("empty", "");
    FakeFileServices files;
    const folder::Result<std::u16string> got = ExtensionByContent(files, tree.Text("empty"));
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().code, std::errc::result_out_of_range);
    EXPECT_EQ(files.Calls(FileOp::ReadHead), 0);
    EXPECT_EQ(files.Calls(FileOp::OpenInput), 0);
}

// Fails the reads of every file it opens from the nth on (1-based).
class FailingReads final : public FakeFileServices {
public:
    explicit FailingReads(int nth) : nth_(nth) {}
    folder::Result<std::unique_ptr<folder::InputFile>> OpenInput(
        std::u16string_view path) override {
        auto input = FakeFileServices::OpenInput(path);
        if (!input) {
            return input;
        }
        return std::unique_ptr<folder::InputFile>(
            std::make_unique<Input>(std::move(*input), *this));
    }

private:
    struct Input final : folder::InputFile {
        Input(std::unique_ptr<folder::InputFile> inner, FailingReads& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        folder::Result<std::size_t> Read(char* buffer, std::size_t n) override {
            if (++owner_.reads_ >= owner_.nth_) {
                return folder::Fail(EIO, "Read");
            }
            return inner_->Read(buffer, n);
        }
        std::unique_ptr<folder::InputFile> inner_;
        FailingReads& owner_;
    };
    int nth_;
    int reads_ = 0;
};

TEST(ExtensionByContent, FailuresOfTheFileReachTheCaller) {
    testing::TempTree tree;
    tree.Create("file", kOle + std::string(3 * kPiece, 'z') + "Microsoft Word");
    const auto expect_failure = [&](FakeFileServices& files, const char* path, const char* why) {
        SCOPED_TRACE(why);
        const folder::Result<std::u16string> got = ExtensionByContent(files, tree.Text(path));
        ASSERT_FALSE(got.has_value()) << U8(*got);
        EXPECT_NE(got.error().code, std::errc::result_out_of_range);
    };
    const std::pair<FileOp, const char*> faults[] = {
        {FileOp::Length, "length"},
        {FileOp::ReadHead, "head"},
        {FileOp::OpenInput, "open for the markers"},
    };
    for (const auto& [op, why] : faults) {
        FakeFileServices files;
        files.FailAt(op, 1, EACCES);
        expect_failure(files, "file", why);
    }
    FailingReads second_read(2);
    expect_failure(second_read, "file", "second read of the markers");
    FakeFileServices files;
    expect_failure(files, "gone", "no such file");
}

}  // namespace
}  // namespace popuran::filetype
