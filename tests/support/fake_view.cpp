#include "support/fake_view.h"

#include "folder/services/utf8.h"
#include "run/run_control.h"

namespace popuran::testing {

FakeView::FakeView() {
    SetYieldInterval(std::chrono::nanoseconds(0));
    captions[run::Caption::CmdRpl] = u"開始";
    captions[run::Caption::LblStat] = u"バージョン情報";
    captions[run::Caption::Window] = u"ぽぷらん ： 文字列置換";
}

std::u16string FakeView::CaptionText(run::Caption which) const {
    const auto it = captions.find(which);
    return it == captions.end() ? std::u16string() : it->second;
}

void FakeView::SetCaption(run::Caption which, std::u16string_view text) {
    static const char16_t* const kNames[] = {u"Window", u"CmdRpl", u"LblPath", u"LblStat"};
    captions[which] = std::u16string(text);
    caption_log.push_back(kNames[static_cast<int>(which)] + (u"=" + std::u16string(text)));
}

void FakeView::ShowMessage(std::u16string_view text) {
    messages.emplace_back(text);
    caption_log.push_back(u"Message=" + std::u16string(text));
}

void FakeView::YieldToEvents() {
    ++yields;
    if (every_yield_) {
        every_yield_();
    }
    if (const auto it = at_yield_.find(yields); it != at_yield_.end()) {
        it->second();
    }
}

std::string U8(std::u16string_view text) { return folder::TextToUtf8(text); }

std::u16string U16(std::string_view utf8) { return folder::Utf8ToText(utf8); }

WindowRun RunFromWindow(folder::FileServices& files, run::RunMode mode,
                        const std::array<std::u16string, 4>& boxes, const RunOptions& options) {
    FakeView view;
    run::RunControl control(view, files);
    control.SetJournal(options.journal);
    control.State().CurrentMode = mode;
    control.State().Encoding = options.encoding;
    view.boxes = boxes;
    view.chk_sub = options.subfolders;
    view.chk_bin = options.case_sensitive;
    control.CmdRpl_Click();
    return WindowRun{control.State(), view.messages, view.Failures(), view.changes};
}

}  // namespace popuran::testing
