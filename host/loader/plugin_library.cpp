#include "host/loader/plugin_library.h"

#include <stdexcept>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fd::host {

PluginLibrary::PluginLibrary(const std::string& path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        throw std::runtime_error(path + ": cannot load the plug-in (error " + std::to_string(GetLastError()) +
                                 ")");
    }
    handle_ = module;
    auto entry = reinterpret_cast<FdGetBusModuleFn>(
        reinterpret_cast<void*>(GetProcAddress(module, FD_ENTRY_POINT_NAME)));
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load the plug-in: ") + dlerror());
    auto entry = reinterpret_cast<FdGetBusModuleFn>(dlsym(handle_, FD_ENTRY_POINT_NAME));
#endif
    if (entry == nullptr) {
        this->~PluginLibrary();
        throw std::runtime_error(path + ": no " FD_ENTRY_POINT_NAME " export; not a flashdecode plug-in");
    }
    descriptor_ = entry();
    table_ = descriptor_ && descriptor_->getEntryTable ? descriptor_->getEntryTable() : nullptr;
    if (table_ == nullptr) {
        this->~PluginLibrary();
        throw std::runtime_error(path + ": the module descriptor has no entry table");
    }
}

PluginLibrary::~PluginLibrary() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

std::string PluginLibrary::ExecutableDirectory() {
    std::vector<char> buffer(4096);
#if defined(_WIN32)
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::string path(buffer.data(), length);
    return path.substr(0, path.find_last_of("\\/") + 1);
#else
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return "./";
    std::string path(buffer.data(), static_cast<size_t>(length));
    return path.substr(0, path.find_last_of('/') + 1);
#endif
}

const char* PluginLibrary::FileName() {
#if defined(_WIN32)
    return "flashdecode.dll";
#else
    return "libflashdecode.so";
#endif
}

std::string PluginLibrary::DefaultPath() { return ExecutableDirectory() + FileName(); }

}  // namespace fd::host
