#include "tests/support/fresh_plugin.h"

#include <filesystem>
#include <random>

namespace fd::test {

FreshPlugin::FreshPlugin() {
    namespace fs = std::filesystem;
    const fs::path source = host::PluginLibrary::DefaultPath();
    // A name no other test process uses at the same time.
    std::random_device random;
    const fs::path copy =
        fs::temp_directory_path() / ("fdtest-" + std::to_string(random()) + "-" + source.filename().string());
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
    copyPath_ = copy.string();
    library_ = std::make_unique<host::PluginLibrary>(copyPath_);
}

FreshPlugin::~FreshPlugin() {
    library_.reset();
    std::error_code ignored;
    std::filesystem::remove(copyPath_, ignored);
}

}  // namespace fd::test
