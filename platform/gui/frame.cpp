#include "platform/gui/frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

#include <algorithm>

namespace tavrin::gui {

namespace {
constexpr int captionLeft = 6; // where the caption's gap in the top line begins
constexpr int captionGap = 2;  // line-free room either side of the caption
constexpr int lineWidth = 2;   // an etched line: a shadow and a light line
} // namespace

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

QRect Frame::captionRect() const {
    const QFontMetrics metrics = fontMetrics();
    return {captionLeft, 0, metrics.horizontalAdvance(title()) + 2 * captionGap, metrics.height()};
}

QRect Frame::lineRect() const {
    return rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
}

QRect Frame::contentRect() const {
    QRect inside = lineRect().adjusted(lineWidth, lineWidth, -lineWidth, -lineWidth);
    inside.setTop(std::max(inside.top(), captionRect().bottom() + 1));
    return inside;
}

void Frame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect caption = captionRect();
    painter.setClipRegion(QRegion(rect()).subtracted(caption));
    qDrawShadeRect(&painter, lineRect(), palette(), true, 1, 0);
    painter.setClipping(false);
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}

} // namespace tavrin::gui
