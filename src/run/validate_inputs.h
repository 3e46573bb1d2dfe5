// ValidateInputs: the checks made before a run may start.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::run {

// Why a Start is refused: the message to show and the box (0 to 3) that gets the focus.
struct Refusal {
    std::u16string message;
    int box = 0;
};

// The first failing check of the inputs of `mode`, or nothing when the run may start. With a
// fixed encoding, mode 0 refuses a replacement that the encoding cannot hold; with the
// automatic choice each file is checked for itself.
std::optional<Refusal> CheckInputs(RunMode mode, const std::array<std::u16string, kBoxCount>& boxes,
                                   EncodingChoice encoding = kEncodingCp932);

// Checks the window's boxes; on a refusal shows its message, focuses the box at fault and
// returns false. Changes nothing else.
bool ValidateInputs(RunView& view, RunMode mode, EncodingChoice encoding = kEncodingCp932);

}  // namespace popuran::run
