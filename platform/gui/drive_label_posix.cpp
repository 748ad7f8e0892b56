#include "platform/gui/drive_label.h"

#include "platform/gui/gui.h"

namespace tavrin::gui {

QString driveLabel(const std::string& drive) {
    return qs(drive);
}

} // namespace tavrin::gui
