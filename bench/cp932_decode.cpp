// Decodes a code page 932 file to UTF-16LE on standard output, by the project's decoder or by
// ICU's streaming converter, so that both can be timed against iconv on the same file.
//   cp932_decode [--icu | --stream] [--time] FILE
// --stream decodes 1 MiB pieces cut at character boundaries and writes each at once, as iconv
// does; the default decodes the whole file in memory, as the replacement mode does.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include <unicode/ucnv.h>

#include "folder/services/cp932.h"

namespace {

bool ReadFile(const char* path, std::string& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) {
        return false;
    }
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

void Write(std::u16string& text) {
    if constexpr (std::endian::native == std::endian::big) {
        for (char16_t& c : text) {
            c = static_cast<char16_t>(c << 8 | c >> 8);
        }
    }
    std::fwrite(text.data(), sizeof(char16_t), text.size(), stdout);
}

// Decodes and writes piece by piece; returns the number of units. A piece that ends with a
// lead byte standing alone is cut before it, since the next piece may hold its trail byte.
std::size_t StreamDecode(std::string_view bytes) {
    constexpr std::size_t kPiece = 1 << 20;
    std::size_t units = 0;
    std::u16string text;
    for (std::size_t begin = 0; begin < bytes.size();) {
        std::size_t end = std::min(bytes.size(), begin + kPiece);
        text = popuran::folder::Cp932Decode(bytes.substr(begin, end - begin));
        const auto last = static_cast<unsigned char>(bytes[end - 1]);
        const bool lead = (last >= 0x81 && last <= 0x9F) || (last >= 0xE0 && last <= 0xFC);
        if (end < bytes.size() && lead && text.back() == 0xDC00 + last) {
            text.pop_back();
            --end;
        }
        units += text.size();
        Write(text);
        begin = end;
    }
    return units;
}

// ICU's converter as an application would stream it, in 64 KiB pieces.
std::u16string IcuDecode(std::string_view bytes) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("windows-31j", &status);
    std::u16string text(bytes.size(), u'\0');
    const char* source = bytes.data();
    const char* const source_end = source + bytes.size();
    UChar* target = text.data();
    while (U_SUCCESS(status) && source < source_end) {
        const char* piece_end = source_end - source > (1 << 16) ? source + (1 << 16) : source_end;
        ucnv_toUnicode(converter, &target, text.data() + text.size(), &source, piece_end, nullptr,
                       piece_end == source_end, &status);
    }
    ucnv_close(converter);
    text.resize(static_cast<std::size_t>(target - text.data()));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    bool icu = false;
    bool stream = false;
    bool timing = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--icu") == 0) {
            icu = true;
        } else if (std::strcmp(argv[i], "--stream") == 0) {
            stream = true;
        } else if (std::strcmp(argv[i], "--time") == 0) {
            timing = true;
        } else {
            path = argv[i];
        }
    }
    std::string bytes;
    if (path == nullptr || !ReadFile(path, bytes)) {
        std::fprintf(stderr, "usage: cp932_decode [--icu | --stream] [--time] FILE\n");
        return 2;
    }
    popuran::folder::Cp932Decode("\x82\xA0");  // builds the tables outside the timing
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t start_cpu = std::clock();
    std::size_t units = 0;
    if (stream) {
        units = StreamDecode(bytes);
    } else {
        std::u16string text = icu ? IcuDecode(bytes) : popuran::folder::Cp932Decode(bytes);
        units = text.size();
        if (!timing) {
            Write(text);
        }
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const double cpu = static_cast<double>(std::clock() - start_cpu) / CLOCKS_PER_SEC;
    if (timing) {
        std::fprintf(stderr, "%s: %zu bytes -> %zu units in %.3f s, cpu %.3f s (%.0f MB/s cpu)\n",
                     icu      ? "ICU"
                     : stream ? "tables, streamed"
                              : "tables",
                     bytes.size(), units, seconds.count(), cpu,
                     static_cast<double>(bytes.size()) / 1e6 / cpu);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
