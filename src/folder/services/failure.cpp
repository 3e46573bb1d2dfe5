#include "folder/services/failure.h"

namespace popuran::folder {

std::string Failure::Describe() const {
    if (context.empty()) {
        return code.message();
    }
    return context + ": " + code.message();
}

}  // namespace popuran::folder
