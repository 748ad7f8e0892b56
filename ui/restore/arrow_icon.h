// The blue arrow of the restore confirmation, from the new names to the old
// names, at 32 x 32 and 16 x 16 pixels in four of the sixteen standard colours.
#pragma once

namespace tavrin::ui {

// clang-format off
inline const char* const arrowIcon32[] = {
    "32 32 4 1",
    "  c None",
    "b c #0000FF",
    "d c #000080",
    "l c #8080FF",
    "                                ",
    "                                ",
    "                                ",
    "               d                ",
    "               dd               ",
    "               dbd              ",
    "               dbbd             ",
    "               dbbbd            ",
    "               dbbbbdd          ",
    "               dbbbbbbd         ",
    "               dbbbbbbbd        ",
    "  dddddddddddddbbbbbbbbbd       ",
    "  dllllllllllllbbbbbbbbbbd      ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbd     ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbbdd   ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbbbbd  ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbbbbd  ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbbdd   ",
    "  dbbbbbbbbbbbbbbbbbbbbbbbd     ",
    "  dbbbbbbbbbbbbbbbbbbbbbbd      ",
    "  dddddddddddddbbbbbbbbbd       ",
    "               dbbbbbbbd        ",
    "               dbbbbbbd         ",
    "               dbbbbdd          ",
    "               dbbbd            ",
    "               dbbd             ",
    "               dbd              ",
    "               dd               ",
    "               d                ",
    "                                ",
    "                                ",
    "                                "};

inline const char* const arrowIcon16[] = {
    "16 16 4 1",
    "  c None",
    "b c #0000FF",
    "d c #000080",
    "l c #8080FF",
    "                ",
    "                ",
    "        d       ",
    "        dd      ",
    "        dbd     ",
    "        dbbd    ",
    " dddddddbbbbdd  ",
    " dllllllbbbbbbd ",
    " dbbbbbbbbbbbbd ",
    " dbbbbbbbbbbdd  ",
    " dddddddbbbd    ",
    "        dbd     ",
    "        dd      ",
    "        d       ",
    "                ",
    "                "};
// clang-format on

} // namespace tavrin::ui
