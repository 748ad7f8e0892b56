#include "platform/gui/fonts.h"

namespace tavrin::gui {

// A Windows without Japanese names for its fonts lists "ＭＳ Ｐゴシック" by its
// English name; without the Japanese supplemental fonts, the Gothics every
// Windows has stand in. Under Wine only the system's fonts are there.
QStringList gothicFallbacks() {
    return {QStringLiteral("MS PGothic"),      QStringLiteral("Yu Gothic UI"),
            QStringLiteral("Meiryo UI"),       QStringLiteral("MS UI Gothic"),
            QStringLiteral("IPAPGothic"),      QStringLiteral("IPA Pゴシック"),
            QStringLiteral("Noto Sans CJK JP")};
}

} // namespace tavrin::gui
