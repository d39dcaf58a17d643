// What the entry table asks of the configuration user interface. On builds
// without a window system these do nothing: the sheet never opens.
#pragma once

#include <string>

namespace fd {

// A modal message box with only an OK button.
void ShowRefusal(const std::string& text);

// Runs the configuration sheet modally with this caption (UTF-8); true when
// it ended with OK.
bool RunConfigurationSheet(const std::string& caption);

}  // namespace fd
