// Failure and Result<T>: the value-or-error return of the file and text services.
#pragma once

#include <string>
#include <system_error>
#include <utility>

#include <tl/expected.hpp>

namespace popuran::folder {

// Why an operation failed: the system's error and what was being done.
struct Failure {
    std::error_code code;
    std::string context;  // e.g. the path, in the bytes the system was given

    // The system's message for the error, in the user's language where the system has it
    // (UTF-8).
    std::string Message() const;
    // "context: system message", or the system message alone when there is no context.
    std::string Describe() const;

    static Failure FromErrno(int error, std::string context) {
        return Failure{std::error_code(error, std::generic_category()), std::move(context)};
    }
};

// The system's message for an errno value in the locale that the environment chooses (LANG,
// LC_MESSAGES, LC_ALL), as UTF-8; untranslated where no translation is installed.
std::string SystemMessage(int error);

template <typename T>
using Result = tl::expected<T, Failure>;

inline tl::unexpected<Failure> Fail(int error, std::string context) {
    return tl::unexpected<Failure>(Failure::FromErrno(error, std::move(context)));
}

}  // namespace popuran::folder
