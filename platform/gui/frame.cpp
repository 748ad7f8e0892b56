#include "platform/gui/frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

#include <algorithm>
#include <climits>

namespace tavrin::gui {

namespace {
constexpr int captionLeft = 6;        // where the caption's gap in the top line begins
constexpr int captionGap = 2;         // line-free room either side of the caption
constexpr int lineWidth = 2;          // an etched line: a shadow and a light line
constexpr double smallestCaption = 6; // points; smaller would not be read
} // namespace

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

QFont Frame::captionFont() const {
    // The control table puts the first control of a frame just below a caption
    // of the Gothic at 9 pt; a system whose stand-in has taller lines gets a
    // caption stepped down until it clears that control.
    int room = INT_MAX;
    for (const QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        room = std::min(room, control->y());
    }
    QFont caption = font();
    double size = caption.pointSizeF();
    while (QFontMetrics(caption).height() > room && size - 0.25 >= smallestCaption) {
        size -= 0.25;
        caption.setPointSizeF(size);
    }
    return caption;
}

QRect Frame::captionRect() const {
    const QFontMetrics metrics(captionFont());
    return {captionLeft, 0, metrics.horizontalAdvance(title()) + 2 * captionGap, metrics.height()};
}

QRect Frame::lineRect() const {
    return rect().adjusted(0, captionRect().height() / 2, 0, 0);
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
    painter.setFont(captionFont());
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}

} // namespace tavrin::gui
