#include "ui/app_icon.h"

#include <QPixmap>

namespace popuran::ui {

namespace {

// The program's own 32 x 32 picture in the 16-colour palette: a poplar before a folder.
static const char* const kIconXpm[] = {"32 32 8 1",
                                       ". c None",
                                       "k c #000000",
                                       "o c #808000",
                                       "y c #FFFF00",
                                       "w c #FFFFFF",
                                       "g c #00FF00",
                                       "G c #008000",
                                       "b c #800000",
                                       "................................",
                                       ".....................kk.........",
                                       "....................kgGk........",
                                       "....................kgGk........",
                                       "...................kggGGk.......",
                                       "...................kggGGk.......",
                                       "...................kggGGk.......",
                                       "..................kgggGGGk......",
                                       "..................kgggGGGk......",
                                       ".kkkkkkkkkkkk.....kgggGGGk......",
                                       ".kooooooooook.....kgggGGGk......",
                                       ".kooooooooookkkkkkkgggGGGkkkkkk.",
                                       ".kooooooooooooooookgggGGGkooook.",
                                       ".kooooooooooooooookgggGGGkooook.",
                                       ".kokkkkkkkkkkkkkkkkgggGGGkkkkkk.",
                                       ".koyyyyyyyyyyyyyyykgggGGGkyyyyk.",
                                       ".koyyyyyyyyyyyyyyyykggGGkyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyykggGGkyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyykggGGkyyyyyk.",
                                       ".koyyywwwwwwwwwyyyyykgGkyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyykgGkyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyybbyyyyyyyk.",
                                       ".koyyywwwwwwwwwyyyyyybbyyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyybbyyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyybbyyyyyyyk.",
                                       ".koyyywwwwwwyyyyyyyyybbyyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyybbyyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyybbyyyyyyyk.",
                                       ".koyyyyyyyyyyyyyyyyyyyyyyyyyyyk.",
                                       ".kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
                                       "................................",
                                       "................................"};

}  // namespace

QPixmap ProgramPixmap() { return QPixmap(kIconXpm); }

QIcon ProgramIcon() { return QIcon(ProgramPixmap()); }

}  // namespace popuran::ui
