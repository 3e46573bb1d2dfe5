#include "filetype/extension_by_content.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::filetype {
namespace {

using folder::Fail;
using folder::Result;
using testing::U8;

// Files held in memory. Reads hand out at most read_size bytes at a time, so that the marker
// search meets piece boundaries at every place a test wants; every call can be made to fail.
class MemoryFiles final : public folder::FileServices {
public:
    std::map<std::u16string, std::string> files;
    std::size_t read_size = 1 << 20;
    int fail_read_at = -1;  // this Read call (0-based, over all inputs) fails with EIO
    bool fail_length = false;
    bool fail_head = false;
    bool fail_open = false;
    int heads = 0;
    int opens = 0;
    int reads = 0;

    Result<std::vector<folder::DirEntry>> List(std::u16string_view) override {
        return Fail(ENOSYS, "List");
    }
    Result<std::uint32_t> Attributes(std::u16string_view) override {
        return Fail(ENOSYS, "Attributes");
    }
    Result<std::int64_t> Length(std::u16string_view path) override {
        if (fail_length) {
            return Fail(EACCES, "Length");
        }
        return static_cast<std::int64_t>(At(path).size());
    }
    Result<std::string> ReadHead(std::u16string_view path, std::size_t max_bytes) override {
        ++heads;
        if (fail_head) {
            return Fail(EACCES, "ReadHead");
        }
        return At(path).substr(0, max_bytes);
    }
    Result<std::string> ReadAll(std::u16string_view) override {
        ADD_FAILURE() << "the whole file must never be read at once";
        return Fail(ENOSYS, "ReadAll");
    }
    Result<std::unique_ptr<folder::InputFile>> OpenInput(std::u16string_view path) override {
        ++opens;
        if (fail_open) {
            return Fail(EACCES, "OpenInput");
        }
        return std::unique_ptr<folder::InputFile>(std::make_unique<Input>(*this, At(path)));
    }
    Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(std::u16string_view) override {
        return Fail(ENOSYS, "BeginReplace");
    }
    Result<void> CopyForBackup(std::u16string_view, std::u16string_view) override {
        return Fail(ENOSYS, "CopyForBackup");
    }
    Result<void> Rename(std::u16string_view, std::u16string_view) override {
        return Fail(ENOSYS, "Rename");
    }

private:
    class Input final : public folder::InputFile {
    public:
        Input(MemoryFiles& owner, const std::string& bytes) : owner_(owner), bytes_(bytes) {}
        Result<std::size_t> Read(char* buffer, std::size_t n) override {
            if (owner_.reads++ == owner_.fail_read_at) {
                return Fail(EIO, "Read");
            }
            const std::size_t count = std::min({n, owner_.read_size, bytes_.size() - at_});
            std::memcpy(buffer, bytes_.data() + at_, count);
            at_ += count;
            return count;
        }

    private:
        MemoryFiles& owner_;
        const std::string& bytes_;
        std::size_t at_ = 0;
    };

    const std::string& At(std::u16string_view path) { return files.at(std::u16string(path)); }
};

constexpr char16_t kPath[] = u"/d/file.dat";

std::string Bytes(const char* literal, std::size_t size) { return std::string(literal, size); }

struct Case {
    std::string bytes;
    const char* expected;  // UTF-8; "ERANGE" for the range error
    const char* why;
};

void RunCases(const std::vector<Case>& cases, std::size_t read_size = 1 << 20) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MemoryFiles files;
        files.read_size = read_size;
        files.files[kPath] = c.bytes;
        const Result<std::u16string> got = ExtensionByContent(files, kPath);
        if (std::string(c.expected) == "ERANGE") {
            ASSERT_FALSE(got.has_value()) << U8(*got);
            EXPECT_EQ(got.error().code, std::errc::result_out_of_range);
        } else {
            ASSERT_TRUE(got.has_value()) << got.error().Describe();
            EXPECT_EQ(U8(*got), c.expected);
        }
    }
}

TEST(ExtensionByContent, TextHeadIsHtmlOnlyWithAllFourMarkers) {
    RunCases({
        {"a", "txt", "one letter"},
        {"<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY bgcolor=white>x</BODY></HTML>", "html",
         "upper case, body with attributes"},
        {"<Html><hEaD><TiTlE>t</tItLe><BoDy>", "html", "mixed case"},
        {"<title>t</title><body><head><html>", "html", "any order"},
        {"<HTML><HEAD></HEAD><BODY>x</BODY></HTML>", "txt", "no title"},
        {"<html lang=\"ja\"><head><title>t</title></head><body>", "txt",
         "html tag with an attribute has no <html> marker"},
        {"\x93\xfa\x96\x7b<html><head><title>\x8c\xa9</title><body>", "html",
         "double-byte text around the markers"},
        {"\x01\x02\x03", "txt", "control bytes without a zero are text"},
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

TEST(ExtensionByContent, EarlierRowsWinAndFailedRowsFallThrough) {
    RunCases({
        {Bytes("MZ\x90\0\0\0JFIF", 10), "jpg", "JFIF beats MZ"},
        {Bytes("\xff\xd8\xff\xe1\0\x18"
               "Exif\0\0",
               12),
         "", "Exif is no row"},
        {Bytes("RIFF\x24\0\0\0RMID", 12), "", "RMID is neither WAVE nor AVI"},
        {Bytes("RIFF\x24\0\0\0WAVX", 12), "", "WAVE failing at 11 and AVI at 8"},
        {Bytes("RIFF\x24\0\0\0RMID Microsoft Word", 27), "doc", "RMID goes on to markers"},
        {Bytes("\0\0\0\0\0\0\0", 7), "", "seven zero bytes reach no offset past the head"},
    });
}

TEST(ExtensionByContent, ReadingAnOffsetPastTheHeadIsARangeError) {
    RunCases({
        {Bytes("\0", 1), "ERANGE", "one zero byte"},
        {Bytes("GIF8\0a", 6), "ERANGE", "six bytes fail at row 1 whatever they hold"},
        {Bytes("\0\0\0\0\0\0JF", 8), "ERANGE", "JF at 6 reaches offset 8"},
        {Bytes("RIFF\0\0\0\0", 8), "ERANGE", "RIFF reaches offset 8"},
        {Bytes("RIFF\0\0\0\0WA", 10), "ERANGE", "WAVE reaches offset 10"},
        {Bytes("RIFF\0\0\0\0XY", 10), "", "WAVE and AVI both fail at 8"},
    });
}

TEST(ExtensionByContent, EmptyFileFailsWithoutBeingOpened) {
    MemoryFiles files;
    files.files[kPath] = "";
    const Result<std::u16string> got = ExtensionByContent(files, kPath);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().code, std::errc::result_out_of_range);
    EXPECT_EQ(files.heads, 0);
    EXPECT_EQ(files.opens, 0);
}

TEST(ExtensionByContent, MarkerTextsInTheirOrder) {
    const std::string binary = Bytes("\0\0\0\0\0\0\0\0\0\0", 10);
    RunCases({
        {binary + "Microsoft Word and Microsoft Excel", "xls", "Excel before Word"},
        {binary + "Microsoft Word", "doc", "Word alone"},
        {binary + "microsoft word", "", "marker texts respect case"},
        {binary + "Microsoft Excel mP3", "mp3", "mp3 before Excel, any case of mp"},
        {binary + "MP3", "mp3", "MP3"},
        {binary + "mp 3 MP4", "", "no mp3"},
        {binary + " mp3", "mp3", "a blank before mp3"},
        {binary + "\x81mp3", "", "a lead byte swallows the m"},
        {binary + "\x81\x81mp3", "mp3", "a whole double-byte character before the m"},
    });
}

TEST(ExtensionByContent, PiecesAgreeWithOneReadAtEveryBoundary) {
    const std::string binary = Bytes("\0\0\0\0\0\0\0\0\0\0", 10);
    const std::vector<Case> cases = {
        {binary + "xxMicrosoft Excelxx", "xls", "marker across pieces"},
        {binary + "\x81mp3", "", "swallowed m, lead byte ending a piece"},
        {binary + "a\x81mp3", "", "swallowed m, shifted by one"},
        {binary + "\x81\x81mp3", "mp3", "double-byte character ending a piece"},
        {binary + "\x81\x81\x81mp3", "", "lead, trail, lead"},
        {binary + "Microsoft Word\x81", "doc", "lead byte at the very end"},
    };
    for (const std::size_t read_size : {1, 2, 3, 7, 11, 12, 13}) {
        SCOPED_TRACE(read_size);
        RunCases(cases, read_size);
    }
}

TEST(ExtensionByContent, FailuresOfTheFileReachTheCaller) {
    const std::string binary = Bytes("\0\0\0\0\0\0\0\0\0\0Microsoft Word", 24);
    struct Fault {
        void (*arm)(MemoryFiles&);
        const char* why;
    };
    const Fault faults[] = {
        {[](MemoryFiles& f) { f.fail_length = true; }, "length"},
        {[](MemoryFiles& f) { f.fail_head = true; }, "head"},
        {[](MemoryFiles& f) { f.fail_open = true; }, "open for the markers"},
        {[](MemoryFiles& f) { f.fail_read_at = 2; }, "third read of the markers"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.why);
        MemoryFiles files;
        files.read_size = 5;
        files.files[kPath] = binary;
        fault.arm(files);
        const Result<std::u16string> got = ExtensionByContent(files, kPath);
        ASSERT_FALSE(got.has_value()) << U8(*got);
        EXPECT_NE(got.error().code, std::errc::result_out_of_range);
    }
}

// On real files: the head is 150000 bytes, while the markers are searched in all of the file,
// read in pieces bigger than the head.
TEST(ExtensionByContent, HeadLimitAndWholeFileOnDisk) {
    testing::TempTree tree;
    folder::PosixFileServices files;
    const std::string text = "<html><head><title>t</title></head><body>";
    tree.Create("zero-beyond-head.htm", text + std::string(150000 - text.size(), 'x') + '\0');
    tree.Create("zero-in-head.htm", text + std::string(149999 - text.size(), 'x') + '\0');
    const std::string binary = Bytes("\0\0\0\0\0\0\0\0\0\0", 10);
    const std::size_t piece = std::size_t{1} << 20;
    tree.Create("late.mp3", binary + std::string(3 * piece, 'z') + "MP3");
    tree.Create("swallowed",
                binary + std::string(piece - 11, 'z') + "\x81mp3" + std::string(piece, 'z'));
    tree.Create("not-swallowed",
                binary + std::string(piece - 11, 'z') + "\x81\x81mp3" + std::string(piece, 'z'));
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"zero-beyond-head.htm", "html"},
        {"zero-in-head.htm", ""},
        {"late.mp3", "mp3"},
        {"swallowed", ""},
        {"not-swallowed", "mp3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<std::u16string> got = ExtensionByContent(files, tree.Text(c.name));
        ASSERT_TRUE(got.has_value()) << got.error().Describe();
        EXPECT_EQ(U8(*got), c.expected);
    }
    const Result<std::u16string> gone = ExtensionByContent(files, tree.Text("gone"));
    EXPECT_FALSE(gone.has_value());
}

}  // namespace
}  // namespace popuran::filetype
