// The bodies of the main window's two help-menu commands.
#pragma once

class QWidget;

namespace tavrin::ui {

class AboutBox;

// "Readme": opens readme.txt of the program's folder in the text editor,
// minimised and activated, and returns at once; when no editor can be started,
// says so in a message naming the file.
void showReadme();

// "バージョン": hides `mainWindow` and shows the About box in its place, loading
// it the first time; the box shows `mainWindow` again when it goes away.
void showAboutInPlaceOf(QWidget* mainWindow);

// The About box once loaded, else nullptr.
AboutBox* loadedAboutBox();

} // namespace tavrin::ui
