// The decode driver: turns the current capture into records.
#pragma once

namespace fd {

// False when the capture has fewer than 26 channels.
bool DecodeCapture();

}  // namespace fd
