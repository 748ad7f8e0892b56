// The Qt side of the platform layer: twips, fonts, the message box and yield.
#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>

#include <chrono>
#include <initializer_list>
#include <string>
#include <utility>

class QWidget;

namespace tavrin::gui {

// Positions and sizes are kept in twips; 15 twips make one logical pixel.
constexpr int twipsPerPixel = 15;
constexpr int px(int twips) {
    return twips / twipsPerPixel;
}
inline QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// The Japanese proportional Gothic the windows ask for by name. The first call
// maps "ＭＳ Ｐゴシック" to an installed Japanese proportional Gothic when the
// system has no font of that name: left to the system's own fallback, the name
// resolves to whatever font it likes best (a serif with taller lines under
// Wine), and the control table's positions no longer leave room for the text.
inline const QString gothicName = QStringLiteral("ＭＳ Ｐゴシック");
QFont gothic(double pointSize, bool bold = false);

// Makes the Gothic at 9 pt the default font of every window, message boxes and
// menus included: the program does so at start, and so do the window tests.
void useGothicByDefault();

// Loads Qt's own Japanese texts (context menus, standard dialogs, key names):
// built into the Windows program, from the system's Qt elsewhere. The program
// does so at start; false when they are not to be found.
bool useJapaneseQtTexts();

// The program's icon; the program makes it every window's default at start.
QIcon programIcon();
void useProgramIcon();

// Routes ShowMsg to a modal OK-only box without icon, captioned "Tavrin".
void installMessageBox();
// The box carries the program's icon in its title bar, whatever its owner has.
void showMessageBox(const QString& text);

// Gives the controls of `window` named by object name the names a screen reader
// reads for them. Found by object name, so a control rebuilt as another kind of
// widget keeps its name.
void setAccessibleNames(QWidget* window,
                        std::initializer_list<std::pair<const char*, QString>> names);

// Processes every pending window event, then returns.
void yieldToEvents();

// Paces the turns a long task gives the window: due() answers true on its
// first call, then once `interval` (about a frame) has passed since the last
// true answer, so that the window repaints and takes input sixty times a
// second however short each step of the task is, and a turn (half a
// millisecond when the bar repaints) stays a small share of the task. Cheap
// enough to ask after every file.
class EventTurns {
public:
    static constexpr std::chrono::milliseconds interval{16};
    bool due();

    // Test-only: a turn every `calls` calls from the first, instead of by the
    // clock (0: by the clock again).
    static void setEveryForTesting(long calls);

private:
    std::chrono::steady_clock::time_point next_{};
    long calls_ = 0;
};

inline QString qs(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline std::string str(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace tavrin::gui
