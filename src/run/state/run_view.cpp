#include "run/state/run_view.h"

#include <utility>

namespace popuran::run {

void RunView::ReportChange(const Change&) {}

void RunView::ReportFailure(FailedFile failure) {
    failures_.push_back(std::move(failure));
    FileFailed(failures_.back());
}

void RunView::Yield() {
    if (yield_interval_.count() > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_yield_ < yield_interval_) {
            return;
        }
        last_yield_ = now;
    }
    YieldToEvents();
}

}  // namespace popuran::run
