#include "run/validate_inputs.h"

#include "folder/services/encodings.h"
#include "folder/services/text_search.h"

namespace popuran::run {

namespace {

// Messages by failure code; the mode-0 table and the table of the other modes.
const char16_t* const kMode0Messages[] = {
    u"",
    u"検索する文字列を入力して下さい。",
    u"置換後の文字列を入力して下さい。",
    u"ファイル名を入力指定して下さい。",
    u"検索する場所を指定して下さい。",
    u"検索する文字列と置換後の文字列が一致してます。",
    u"バックアップファイルは置換対象外です。",
};
const char16_t* const kOtherMessages[] = {
    u"",
    u"",
    u"",
    u"ファイル名を入力して下さい。",
    u"検索する場所を指定して下さい。",
    u"検索する拡張子と置換後の拡張子が一致してます。",
    u"",
};
constexpr char16_t kUnencodable[] = u"置換後の文字列に Shift_JIS で表せない文字が含まれています。";
constexpr char16_t kUnencodableEucJp[] =
    u"置換後の文字列に EUC-JP で表せない文字が含まれています。";
constexpr char16_t kUnencodableUtf8[] = u"置換後の文字列に UTF-8 で表せない文字が含まれています。";

Refusal Refuse(RunMode mode, int code, int box) {
    return Refusal{mode == kModeReplace ? kMode0Messages[code] : kOtherMessages[code], box};
}

// An empty folder box would mean the root of the file system; a blank one too, once trimmed.
bool FolderMissing(const std::u16string& folder) { return folder::TrimBlanks(folder).empty(); }

bool EndsInBak(const std::u16string& text) {
    const std::u16string tail = text.size() > 3 ? text.substr(text.size() - 3) : text;
    return folder::ToUpper(tail) == u"BAK";
}

}  // namespace

std::optional<Refusal> CheckInputs(RunMode mode, const std::array<std::u16string, kBoxCount>& boxes,
                                   EncodingChoice encoding) {
    const auto& search = boxes[kSearchBox];
    const auto& replacement = boxes[kReplaceBox];
    const auto& pattern = boxes[kPatternBox];
    const auto& folder = boxes[kFolderBox];
    switch (mode) {
        case kModeReplace:
            if (search.empty()) {
                return Refuse(mode, 1, kSearchBox);
            }
            if (replacement.empty()) {
                return Refuse(mode, 2, kReplaceBox);
            }
            if (search == replacement) {
                return Refuse(mode, 5, kReplaceBox);
            }
            if (pattern.empty()) {
                return Refuse(mode, 3, kPatternBox);
            }
            if (EndsInBak(pattern)) {
                return Refuse(mode, 6, kPatternBox);
            }
            if (FolderMissing(folder)) {
                return Refuse(mode, 4, kFolderBox);
            }
            // Written as '?' this character would corrupt the file, so the run is refused.
            switch (encoding) {
                case kEncodingCp932:
                    if (!folder::CanEncodeText(folder::Encoding::kCp932, replacement)) {
                        return Refusal{kUnencodable, kReplaceBox};
                    }
                    break;
                case kEncodingEucJp:
                    if (!folder::CanEncodeText(folder::Encoding::kEucJp, replacement)) {
                        return Refusal{kUnencodableEucJp, kReplaceBox};
                    }
                    break;
                case kEncodingUtf8:
                    if (!folder::CanEncodeText(folder::Encoding::kUtf8, replacement)) {
                        return Refusal{kUnencodableUtf8, kReplaceBox};
                    }
                    break;
                default:
                    break;
            }
            return std::nullopt;
        case kModeExtension:
            if (search != u"*" && replacement == search) {
                return Refuse(mode, 5, kSearchBox);
            }
            if (FolderMissing(folder)) {
                return Refuse(mode, 4, kFolderBox);
            }
            return std::nullopt;
        default:
            if (pattern.empty()) {
                return Refuse(mode, 3, kPatternBox);
            }
            if (FolderMissing(folder)) {
                return Refuse(mode, 4, kFolderBox);
            }
            return std::nullopt;
    }
}

bool ValidateInputs(RunView& view, RunMode mode, EncodingChoice encoding) {
    std::array<std::u16string, kBoxCount> boxes;
    for (int i = 0; i < kBoxCount; ++i) {
        boxes[static_cast<std::size_t>(i)] = view.BoxText(i);
    }
    const auto refusal = CheckInputs(mode, boxes, encoding);
    if (!refusal) {
        return true;
    }
    view.ShowMessage(refusal->message);
    view.FocusBox(refusal->box);
    return false;
}

}  // namespace popuran::run
