#include "plugin/interface/module_state.h"

namespace fd {
namespace {
constinit FdCapture* currentCapture = nullptr;
constinit HostInfo hostInfo{};
}  // namespace

FdCapture* CurrentCapture() { return currentCapture; }
void SetCurrentCapture(FdCapture* capture) { currentCapture = capture; }
HostInfo& HostValues() { return hostInfo; }

}  // namespace fd
