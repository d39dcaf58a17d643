// Zip archives of given members, deflated, as the tests' capture files.
#pragma once

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fd::test {

using ZipMembers = std::vector<std::pair<std::string, std::string>>;

// The archive's bytes: these members, in this order.
inline std::string ZipBytes(const ZipMembers& members) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("fd-zip-" + std::to_string(std::random_device{}()) + ".zip");
    int error = 0;
    zip_t* zip = zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) throw std::runtime_error("zip_open");
    for (const auto& [name, data] : members)
        zip_file_add(zip, name.c_str(), zip_source_buffer(zip, data.data(), data.size(), 0),
                     ZIP_FL_OVERWRITE);
    if (zip_close(zip) != 0) throw std::runtime_error("zip_close");
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    std::filesystem::remove(path);
    return bytes.str();
}

}  // namespace fd::test
