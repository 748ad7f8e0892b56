#include "platform/gui/fonts.h"

namespace tavrin::gui {

// fonts-ipafont-gothic first, under either of its names.
QStringList gothicFallbacks() {
    return {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
            QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")};
}

} // namespace tavrin::gui
