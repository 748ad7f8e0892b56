// The application icon: a folder whose files get new names, 32 x 32 pixels in
// five of the sixteen standard colours.
#pragma once

namespace tavrin::ui {

// clang-format off
inline const char* const appIcon32[] = {
    "32 32 5 1",
    "  c None",
    "y c #FFFF00",
    "k c #000000",
    "w c #FFFFFF",
    "b c #0000FF",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "  kkkkkkkkkkkk                  ",
    "  kyyyyyyyyyyk                  ",
    "  kyyyyyyyyyyk                  ",
    "  kyyyyyyyyyykkkkkkkkkkkkkkkkk  ",
    "  kwwwwwwwwwwwwwwwwwwwwwwwwwwk  ",
    "  kwwwwwwwwwwwwwwwwwwwwwwwwwwk  ",
    "  kyyyyyyyyyyyyyyybyyyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbyyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbbyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbbbyyyyyyyk  ",
    "  kyyyybbbbbbbbbbbbbbbbyyyyyyk  ",
    "  kyyyybbbbbbbbbbbbbbbbbyyyyyk  ",
    "  kyyyybbbbbbbbbbbbbbbbbbyyyyk  ",
    "  kyyyybbbbbbbbbbbbbbbbbyyyyyk  ",
    "  kyyyybbbbbbbbbbbbbbbbyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbbbyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbbyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybbyyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyybyyyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyyyyyyyyyyyyyk  ",
    "  kyyyyyyyyyyyyyyyyyyyyyyyyyyk  ",
    "  kkkkkkkkkkkkkkkkkkkkkkkkkkkk  ",
    "                                ",
    "                                ",
    "                                ",
    "                                "};
// clang-format on

} // namespace tavrin::ui
