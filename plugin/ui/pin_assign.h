// The pin assignment dialog that the setup page's "Custom Settings" button
// opens: it edits the channel fields of the working copy of the settings.
#pragma once

namespace fd::ui {

// Runs the dialog from `templateId` (by the capture's language) modally,
// without a parent. The caller does not look at the result.
void RunPinAssignment(int templateId);

}  // namespace fd::ui
