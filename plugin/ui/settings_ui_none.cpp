// Builds without a window system: the configuration sheet is not available,
// users configure the decoder through the host.
#include "plugin/ui/settings_ui.h"

namespace fd {

void ShowRefusal(const std::string&) {}
bool RunConfigurationSheet(const std::string&) { return false; }

}  // namespace fd
