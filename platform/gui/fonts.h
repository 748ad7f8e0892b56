// The Japanese proportional Gothics that stand in for "ＭＳ Ｐゴシック" where the
// system has no font of that name, best first; one list per system.
#pragma once

#include <QStringList>

namespace tavrin::gui {

QStringList gothicFallbacks();

} // namespace tavrin::gui
