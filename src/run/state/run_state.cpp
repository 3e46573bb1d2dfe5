#include "run/state/run_state.h"

namespace popuran::run {

const char16_t* const ModeNames[4] = {
    u"文字列置換",
    u"拡張子置換",
    u"ファイル名変換（大文字→小文字）",
    u"ファイル名変換（小文字→大文字）",
};

}  // namespace popuran::run
