// A frame as the control tables lay it out: its caption sits on the top line,
// which runs through the middle of the caption's height, so a control placed
// one caption's height down lies inside the frame.
#pragma once

#include <QGroupBox>

namespace tavrin::gui {

class Frame : public QGroupBox {
    Q_OBJECT

public:
    Frame(const QString& caption, QWidget* parent);

    // Where controls belong: inside the lines and below the caption.
    QRect contentRect() const;
    // The caption's font: the frame's own, a little smaller where a font
    // taller than the one the layout was made for would reach the controls.
    QFont captionFont() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect captionRect() const;
    QRect lineRect() const;
};

} // namespace tavrin::gui
