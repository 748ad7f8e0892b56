// The extensions of a file list, as the extension list offers them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Everything after the first "." of a name; the whole name when it has none.
std::string_view extensionOf(std::string_view name);

// The extensions of `names` without repeats: each distinct text (compared
// exactly, letter case included) once, at the place of its last occurrence, in
// the order of those last occurrences. Linear in the number of names.
std::vector<std::string> CollectExtensions(const std::vector<std::string>& names);

} // namespace tavrin
