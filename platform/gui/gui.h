// The Qt side of the platform layer: twips, fonts, the message box and yield.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <string>

namespace tavrin::gui {

// Positions and sizes are kept in twips; 15 twips make one logical pixel.
constexpr int twipsPerPixel = 15;
constexpr int px(int twips) {
    return twips / twipsPerPixel;
}
inline QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// The Japanese proportional Gothic the windows ask for by name.
inline const QString gothicName = QStringLiteral("ＭＳ Ｐゴシック");
QFont gothic(double pointSize, bool bold = false);

// Maps "ＭＳ Ｐゴシック" to an installed Japanese proportional Gothic when the
// system has no font of that name.
void installFontSubstitution();

// Routes ShowMsg to a modal OK-only box without icon, captioned "Tavrin".
void installMessageBox();
void showMessageBox(const QString& text);

// Processes every pending window event, then returns.
void yieldToEvents();

inline QString qs(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline std::string str(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace tavrin::gui
