#include "platform/gui/drive_label.h"

#include "platform/win32_text.h"

#include <windows.h>

namespace tavrin::gui {

// "c:", and "c: [LABEL]" for a fixed drive with a volume label. Removable and
// network drives are not asked for theirs: an empty drive or a lost share would
// keep the window waiting.
QString driveLabel(const std::string& drive) {
    QString label = QString::fromUtf8(drive.data(), static_cast<qsizetype>(drive.size()));
    if (label.size() < 2 || label[1] != QLatin1Char(':')) {
        return label;
    }
    label = label.left(2).toLower();
    const std::wstring root = platform::detail::toWide(drive);
    if (GetDriveTypeW(root.c_str()) != DRIVE_FIXED) {
        return label;
    }
    wchar_t volume[MAX_PATH + 1] = {};
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const BOOL named = GetVolumeInformationW(root.c_str(), volume, MAX_PATH + 1, nullptr, nullptr,
                                             nullptr, nullptr, 0);
    SetErrorMode(oldMode);
    if (named && volume[0] != L'\0') {
        label += QStringLiteral(" [") + QString::fromWCharArray(volume) + QLatin1Char(']');
    }
    return label;
}

} // namespace tavrin::gui
