// Loads the plug-in library by path, as a host application does, and reaches
// it only through QMLAGetBusModule and the entry table.
#pragma once

#include <string>

#include "plugin/interface/host_abi.h"

namespace fd::host {

class PluginLibrary {
public:
    // Throws std::runtime_error with a readable message on failure.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const FdModuleDescriptor& descriptor() const { return *descriptor_; }
    const FdEntryTable& table() const { return *table_; }

    // The library built beside the running executable.
    static std::string DefaultPath();
    // Directory of the running executable, with a trailing separator.
    static std::string ExecutableDirectory();
    static const char* FileName();  // libflashdecode.so or flashdecode.dll

private:
    void* handle_ = nullptr;
    const FdModuleDescriptor* descriptor_ = nullptr;
    const FdEntryTable* table_ = nullptr;
};

}  // namespace fd::host
