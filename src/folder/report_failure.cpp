#include "folder/report_failure.h"

#include <cerrno>
#include <string>

#include "folder/services/file_services.h"
#include "folder/services/utf8.h"

namespace popuran::folder {

void ReportFailure(Work& work, std::u16string_view path, const Failure& failure) {
    const std::string native = NativePath(path);
    if (failure.code.value() == ENOENT && failure.context == native) {
        return;
    }
    std::string reason = failure.Message();
    if (!failure.context.empty() && failure.context != native) {
        reason += " (" + failure.context + ")";
    }
    work.view.ReportFailure(run::FailedFile{std::u16string(path), Utf8ToText(reason)});
}

}  // namespace popuran::folder
