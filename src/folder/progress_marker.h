// ProgressMarker: the moving square shown in the status label during a run.
#pragma once

#include <cstdint>
#include <string>

namespace popuran::folder {

// Eleven full-width cells with one black square; the square moves one cell per step, to the
// right and back, every 20 steps. A negative step is treated as 0.
std::u16string ProgressMarker(std::int32_t step);

}  // namespace popuran::folder
