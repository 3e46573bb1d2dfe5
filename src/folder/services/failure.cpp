#include "folder/services/failure.h"

#include <cstring>

#include <langinfo.h>
#include <locale.h>

#include <unicode/ucnv.h>

#include "folder/services/utf8.h"

namespace popuran::folder {

namespace {

// The user's locale as the environment sets it (LC_ALL, LC_MESSAGES, LANG), whatever the
// program's global locale is; "C" when the environment names none that is installed.
locale_t UserLocale() {
    static const locale_t locale = [] {
        locale_t user = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
        return user != static_cast<locale_t>(nullptr)
                   ? user
                   : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

// The bytes of a message in the locale's character set, as UTF-8.
std::string ToUtf8(const char* bytes, const char* charset) {
    if (charset == nullptr || std::strcmp(charset, "UTF-8") == 0) {
        return bytes;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(charset, &status);
    if (U_FAILURE(status)) {
        return bytes;
    }
    std::u16string text(std::strlen(bytes) * 2 + 1, u'\0');
    const int32_t n = ucnv_toUChars(converter, text.data(), static_cast<int32_t>(text.size()),
                                    bytes, -1, &status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        return bytes;
    }
    text.resize(static_cast<std::size_t>(n));
    return TextToUtf8(text);
}

}  // namespace

std::string SystemMessage(int error) {
    const locale_t locale = UserLocale();
    if (locale == static_cast<locale_t>(nullptr)) {
        return std::strerror(error);
    }
    return ToUtf8(strerror_l(error, locale), nl_langinfo_l(CODESET, locale));
}

std::string Failure::Message() const {
    return code.category() == std::generic_category() ? SystemMessage(code.value())
                                                      : code.message();
}

std::string Failure::Describe() const {
    if (context.empty()) {
        return Message();
    }
    return context + ": " + Message();
}

}  // namespace popuran::folder
