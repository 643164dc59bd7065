#include "platform/linux/relaunch.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace orevant {

std::string installedExecutablePath(std::string reported) {
    static const std::string deleted = " (deleted)";
    if (reported.size() > deleted.size() &&
        reported.compare(reported.size() - deleted.size(), deleted.size(), deleted) == 0) {
        reported.resize(reported.size() - deleted.size());
    }
    return reported;
}

std::string relaunchSelf() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "cannot find this program's path";
    const std::string path = installedExecutablePath(std::string(buffer, static_cast<size_t>(n)));
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    for (size_t start = 0; start < line.size();) {
        const size_t end = line.find('\0', start);
        arguments.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (arguments.empty()) arguments.push_back(path);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    return path + ": " + std::strerror(errno);
}

} // namespace orevant
