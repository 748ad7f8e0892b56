// The folder list's two icons, 16 x 16 pixels in four of the sixteen standard
// colours: an open folder for the folders on the path down to the current one,
// a closed folder for its subfolders.
#pragma once

namespace tavrin::gui {

// clang-format off
inline const char* const openFolder16[] = {
    "16 16 5 1",
    "  c None",
    "k c #000000",
    "y c #FFFF00",
    "d c #808000",
    "w c #FFFFFF",
    "                ",
    "                ",
    "  kkkkk         ",
    " kyyyyyk        ",
    " kyyyyyykkkkkk  ",
    " kyyyyyyyyyyyk  ",
    " kyyyyyyyyyyyk  ",
    " kyykkkkkkkkkkkk",
    " kykwwwwwwwwwwk ",
    " kykyyyyyyyyydk ",
    " kkyyyyyyyyyyk  ",
    " kkyyyyyyyyydk  ",
    " kyyyyyyyyydk   ",
    " kkkkkkkkkkkk   ",
    "                ",
    "                ",
};

inline const char* const closedFolder16[] = {
    "16 16 5 1",
    "  c None",
    "k c #000000",
    "y c #FFFF00",
    "d c #808000",
    "w c #FFFFFF",
    "                ",
    "                ",
    "  kkkkk         ",
    " kyyyyyk        ",
    " kyyyyyykkkkkkk ",
    " kwwwwwwwwwwwwk ",
    " kwyyyyyyyyyydk ",
    " kwyyyyyyyyyydk ",
    " kwyyyyyyyyyydk ",
    " kwyyyyyyyyyydk ",
    " kwyyyyyyyyyydk ",
    " kwyyyyyyyyyydk ",
    " kddddddddddddk ",
    " kkkkkkkkkkkkkk ",
    "                ",
    "                ",
};
// clang-format on

} // namespace tavrin::gui
