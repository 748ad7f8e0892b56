// What the OS-specific code page sources give the shared code.
#pragma once

#include "platform/codepage.h"

namespace tavrin::platform::detail {

// The system's narrow code page: the ANSI code page on Windows, 65001 elsewhere.
int systemCodePageNumber();

// A converter for a code page other than UTF-8, or nullptr.
std::unique_ptr<CodePage> makeSystemConverter(int number);

} // namespace tavrin::platform::detail
