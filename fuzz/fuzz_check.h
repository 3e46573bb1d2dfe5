// Helpers shared by the fuzz targets: a check that stops the fuzzer, and input splitting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace popuran::fuzz {

// Unlike assert, stays on in every build type, and names the failed property so that the
// reproducer's report says what went wrong.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

inline std::string_view AsBytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Splits bytes at every separator byte into exactly `parts` pieces; the last piece takes the
// rest, separators included, and missing pieces are empty.
inline std::vector<std::string_view> SplitInput(std::string_view bytes, char separator,
                                                std::size_t parts) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < parts) {
        const std::size_t at = bytes.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        out.push_back(bytes.substr(0, at));
        bytes.remove_prefix(at + 1);
    }
    out.push_back(bytes);
    out.resize(parts);
    return out;
}

// A readable dump of a text's code units, for reports.
inline std::string Hex(std::u16string_view text) {
    std::string out;
    char unit[8];
    for (const char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

inline std::string Hex(std::string_view bytes) {
    std::string out;
    char unit[4];
    for (const char c : bytes) {
        std::snprintf(unit, sizeof unit, "%02X ",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += unit;
    }
    return out;
}

}  // namespace popuran::fuzz
