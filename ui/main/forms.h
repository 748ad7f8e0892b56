// The program's windows as the handlers see them: the main window is unloaded
// and loaded again by the undo command, so nobody keeps a pointer to it.
#pragma once

#include <functional>

namespace tavrin::ui {

class MainWindow;

namespace forms {

// The loaded main window, or nullptr.
MainWindow* mainWindow();

// A fresh main window (its start-up runs), loaded and hidden.
MainWindow* loadMainWindow();

// Destroys the main window with its state, once the current handler is done.
void unloadMainWindow();

// Shows the main window, loading it first when it is not loaded.
void showMainWindow();

// Ends the program; tests replace it.
void endProgram();
void setEndProgram(std::function<void()> end);

} // namespace forms
} // namespace tavrin::ui
