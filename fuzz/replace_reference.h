// A plain reference for search and replace, and a quiet RunView, for the replacement fuzzers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/cp932.h"
#include "folder/services/encodings.h"
#include "folder/services/text_search.h"
#include "folder/services/utf8.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::fuzz {

// A window that shows nothing. Unless given a stop, it never stops a run; with one, the
// stop request comes at the chosen yield (1-based), and every yield is a real one.
class QuietView final : public run::RunView {
public:
    QuietView() = default;
    QuietView(run::RunState& state, int stop_at_yield) : state_(&state), stop_at_(stop_at_yield) {
        SetYieldInterval(std::chrono::nanoseconds(0));
    }
    // True once the stop request was made.
    bool Stopped() const { return stop_at_ > 0 && yields_ >= stop_at_; }

    std::u16string BoxText(int) const override { return {}; }
    void SetBoxText(int, std::u16string_view) override {}
    bool Checked(run::CheckBox) const override { return false; }
    std::u16string CaptionText(run::Caption) const override { return {}; }
    void SetCaption(run::Caption, std::u16string_view) override {}
    void EnableStartButton(bool) override {}
    void ShowMessage(std::u16string_view) override {}
    void FocusBox(int) override {}
    void RecordHistory() override {}

protected:
    void YieldToEvents() override {
        if (state_ != nullptr && ++yields_ == stop_at_) {
            state_->StopRequested = 1;
        }
    }

private:
    run::RunState* state_ = nullptr;
    int stop_at_ = 0;
    int yields_ = 0;
};

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Where search stands in text, left to right and never overlapping: every code-unit index
// tried in turn, compared unit by unit (after case folding when case is ignored), and a match
// never starts or ends between the two halves of a surrogate pair. An empty search is never
// found. With same_forms, the two forms of a two-form character (〜 and ～, ...) compare equal.
inline std::vector<std::size_t> ReferenceMatches(std::u16string_view text,
                                                 std::u16string_view search, bool case_sensitive,
                                                 bool same_forms = false) {
    std::vector<std::size_t> starts;
    const std::size_t m = search.size();
    if (m == 0 || m > text.size()) {
        return starts;
    }
    std::u16string haystack = case_sensitive ? std::u16string(text) : folder::FoldCase(text);
    std::u16string needle = case_sensitive ? std::u16string(search) : folder::FoldCase(search);
    for (std::u16string* t : {&haystack, &needle}) {
        for (char16_t& c : *t) {
            c = same_forms ? static_cast<char16_t>(folder::SameCharacter(c)) : c;
        }
    }
    auto splits_pair = [&](std::size_t at) {
        return at > 0 && at < text.size() && IsHighSurrogate(text[at - 1]) &&
               IsLowSurrogate(text[at]);
    };
    for (std::size_t i = 0; i + m <= text.size();) {
        if (!splits_pair(i) && !splits_pair(i + m) &&
            std::u16string_view(haystack).substr(i, m) == needle) {
            starts.push_back(i);
            i += m;
        } else {
            ++i;
        }
    }
    return starts;
}

// The text with every reference match replaced.
inline std::u16string ReferenceReplace(std::u16string_view text,
                                       const std::vector<std::size_t>& starts, std::size_t length,
                                       std::u16string_view replacement) {
    std::u16string out;
    std::size_t rest = 0;
    for (const std::size_t at : starts) {
        out.append(text.substr(rest, at - rest));
        out.append(replacement);
        rest = at + length;
    }
    out.append(text.substr(rest));
    return out;
}

// A search text for the fuzzers: taken from the text itself when asked (two bytes of `part`
// give start and length), so that matches are common; otherwise `part` decoded as UTF-8 or
// as code page 932. Bits 3 and 4 of flags change its letter case.
inline std::u16string FuzzSearch(std::uint8_t flags, std::string_view part,
                                 std::u16string_view text) {
    std::u16string search;
    if ((flags & 4) != 0 && part.size() >= 2 && !text.empty()) {
        const std::size_t start = static_cast<unsigned char>(part[0]) % text.size();
        const std::size_t length = 1 + static_cast<unsigned char>(part[1]) % 8;
        search = std::u16string(text.substr(start, length));
    } else {
        search = (flags & 2) != 0 ? folder::Utf8ToText(part) : folder::Cp932Decode(part);
    }
    if ((flags & 8) != 0) {
        search = folder::ToUpper(search);
    }
    if ((flags & 16) != 0) {
        search = folder::ToLower(search);
    }
    return search;
}

}  // namespace popuran::fuzz
