// fdinfo: loads the flashdecode plug-in by path, as a host does, and prints
// its module descriptor and field-type table.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "host/loader/plugin_library.h"

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(
            "usage: fdinfo [PLUGIN]\n"
            "Loads the flashdecode plug-in (default: the one built beside fdinfo)\n"
            "and prints its module descriptor and field-type table.\n");
        return 0;
    }
    const std::string path = argc > 1 ? argv[1] : fd::host::PluginLibrary::DefaultPath();
    try {
        fd::host::PluginLibrary plugin(path);
        const FdModuleDescriptor& d = plugin.descriptor();
        const FdEntryTable& t = plugin.table();
        std::printf("plug-in      %s\n", path.c_str());
        std::printf("title        %s\n", d.title);
        std::printf("bus          %s (key %s, version %d)\n", d.busName, d.busKey,
                    static_cast<int>(d.moduleVersion));
        std::printf("table label  %s\n", t.label);
        std::printf("identifier   %s\n", t.GetModuleIdentifier());
        std::printf("signals      %d\n\n", static_cast<int>(t.GetSignalCount()));
        std::printf("index  id    colour   width  name\n");
        const int count = t.GetFieldTypeCount();
        for (int i = 0; i < 27; ++i) {
            int32_t id = 0, width = 0;
            uint32_t colour = 0;
            char name[260] = {};
            t.GetFieldType(i, &id, &colour, name, &width);
            std::printf("%5d  %-5d #%02X%02X%02X  %5d  %s%s\n", i, static_cast<int>(id), colour & 0xFF,
                        (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, static_cast<int>(width), name,
                        i >= count ? "  (beyond the announced count)" : "");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fdinfo: %s\n", e.what());
        return 2;
    }
    return 0;
}
