// How the drive list names a drive to the user: on Windows "c:" with the
// volume's label, as Windows' own drive lists do; elsewhere its mount point.
#pragma once

#include <QString>

#include <string>

namespace tavrin::gui {

// `drive` is a root as platform::drives() gives it ("C:\", "/media/usb").
QString driveLabel(const std::string& drive);

} // namespace tavrin::gui
