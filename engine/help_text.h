// The texts of the main window's help panel.
#pragma once

namespace tavrin {

// The contact address inside the welcome text.
extern const char* const contactAddress;

// Writes the six help texts into slots 1 to 6 of tavrinM::HelpText; the other
// slots stay empty. Calling it again writes the same texts.
void FillHelpText();

} // namespace tavrin
