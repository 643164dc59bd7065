#pragma once
// The whole content of a file ("" when it cannot be read).
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orevant::test {

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace orevant::test
