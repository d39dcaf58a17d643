// Loads a private copy of the built plug-in, so each test starts from the
// state the library has right after load, whatever ran before it.
#pragma once

#include <memory>
#include <string>

#include "host/loader/plugin_library.h"

namespace fd::test {

class FreshPlugin {
public:
    FreshPlugin();
    ~FreshPlugin();
    const FdEntryTable& table() const { return library_->table(); }
    const FdModuleDescriptor& descriptor() const { return library_->descriptor(); }

private:
    std::string copyPath_;
    std::unique_ptr<host::PluginLibrary> library_;
};

}  // namespace fd::test
