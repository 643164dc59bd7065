#include "app/system_info.h"

#include <fstream>
#include <map>
#include <sstream>
#include <sys/utsname.h>

namespace orevant {

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
    }
    return out;
}

} // namespace

std::string SystemInfo::prettyName(const std::string& osReleaseText) {
    std::map<std::string, std::string> fields;
    std::istringstream in(osReleaseText);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.empty() || line[0] == '#') continue;
        fields[line.substr(0, eq)] = unquote(firstLine(line.substr(eq + 1)));
    }
    if (auto it = fields.find("PRETTY_NAME"); it != fields.end() && !it->second.empty()) return it->second;
    std::string name = fields["NAME"];
    const std::string version = fields["VERSION"];
    if (!name.empty() && !version.empty()) name += " " + version;
    return name;
}

SystemInfo SystemInfo::current() {
    SystemInfo info;
    utsname uts{};
    const bool haveUname = ::uname(&uts) == 0;
    info.operatingSystem = haveUname ? std::string(uts.sysname) + " " + uts.release : "Linux";
    std::string distribution = prettyName(readFile("/etc/os-release"));
    if (distribution.empty()) distribution = prettyName(readFile("/usr/lib/os-release"));
    if (!distribution.empty()) info.operatingSystem += " (" + distribution + ")";

    info.hardwareModel = firstLine(readFile("/sys/devices/virtual/dmi/id/product_name"));
    if (info.hardwareModel.empty() || info.hardwareModel == "System Product Name") {
        info.hardwareModel = haveUname ? uts.machine : "unknown";
    }
    return info;
}

} // namespace orevant
