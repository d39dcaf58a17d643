#include "plugin/decoder/decode_state.h"

namespace fd {
namespace {
constinit DecodeWindow window{};
constinit TransferState transfer{};
}  // namespace

DecodeWindow& Window() { return window; }
TransferState& Transfer() { return transfer; }

}  // namespace fd
