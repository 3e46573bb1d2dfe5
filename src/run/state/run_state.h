// RunState: the record that every step of a run shares, and RunMode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace popuran::run {

// The processing mode: 0 string replacement, 1 extension replacement, 2 names to lower case,
// 3 names to upper case.
using RunMode = std::uint8_t;
inline constexpr RunMode kModeReplace = 0;
inline constexpr RunMode kModeExtension = 1;
inline constexpr RunMode kModeLower = 2;
inline constexpr RunMode kModeUpper = 3;

// How mode 0 reads file contents: each file in the encoding detected for it, or all in one.
using EncodingChoice = std::uint8_t;
inline constexpr EncodingChoice kEncodingAuto = 0;
inline constexpr EncodingChoice kEncodingCp932 = 1;
inline constexpr EncodingChoice kEncodingUtf8 = 2;
inline constexpr EncodingChoice kEncodingEucJp = 3;

// The four mode names, indexed by RunMode.
extern const char16_t* const ModeNames[4];

// The program title; it heads the window caption and every message box.
inline constexpr char16_t kProgramTitle[] = u"ぽぷらん";

// Fields shared by every step of a run. Declaration order and types are part of the design.
struct RunState {
    std::vector<std::u16string> FileList;     // matching files of the folder in hand
    std::vector<std::u16string> FolderList;   // folders below the search folder, no trailing '/'
    std::int32_t FileCount = 0;               // valid entries of FileList
    std::int32_t FolderCount = 0;             // valid entries of FolderList
    std::int32_t ProgressTicks = 0;           // replacements since Start (mode 0)
    std::uint8_t StopRequested = 0;           // 1 once a stop has been requested
    std::int32_t ChangedFileCount = 0;        // files replaced or renamed in this run
    std::int32_t ReplacedStringCount = 0;     // occurrences replaced in this run (mode 0)
    std::uint8_t CaseSensitive = 0;           // ChkBin at Start; nonzero: letter case matters
    std::u16string SearchText;                // box 0 at Start
    std::u16string ReplaceText;               // box 1 at Start
    std::u16string WorkText;                  // rewritten contents of the file in hand (mode 0)
    RunMode CurrentMode = 0;                  // the current mode, 0 to 3
    EncodingChoice Encoding = kEncodingAuto;  // mode 0: set by the window while idle
    std::int32_t EncodingSkippedCount = 0;    // files left as they were for their encoding
};

}  // namespace popuran::run
