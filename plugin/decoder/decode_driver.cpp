#include "plugin/decoder/decode_driver.h"

namespace fd {

// Placeholder until the decoder lands.
bool DecodeCapture() { return true; }

}  // namespace fd
