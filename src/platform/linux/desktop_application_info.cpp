#include "platform/linux/desktop_application_info.h"

#include <sstream>
#include <vector>

namespace orevant {

namespace {
std::string unescapeUnit(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const std::string hex = text.substr(i + 2, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The application ID inside one unit name, or none.
std::optional<std::string> idOfUnit(const std::string& unit) {
    if (unit.rfind("app-", 0) != 0) return std::nullopt;
    std::string body;
    const auto dot = unit.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    const std::string suffix = unit.substr(dot);
    body = unit.substr(4, dot - 4);
    if (suffix == ".scope") {
        const auto dash = body.rfind('-'); // the random part
        if (dash == std::string::npos) return std::nullopt;
        body = body.substr(0, dash);
    } else if (suffix == ".service") {
        if (const auto at = body.find('@'); at != std::string::npos) body = body.substr(0, at);
    } else {
        return std::nullopt;
    }
    // A launcher may stand first; the ID has its own dashes escaped, so a dash left means one.
    if (const auto dash = body.find('-'); dash != std::string::npos) body = body.substr(dash + 1);
    if (body.empty()) return std::nullopt;
    return unescapeUnit(body);
}

// The path of the innermost app unit in the unified (or first) hierarchy line.
std::optional<std::pair<std::string, std::string>> appUnit(const std::string& cgroupText) {
    std::istringstream in(cgroupText);
    std::string line;
    while (std::getline(in, line)) {
        // hierarchy-ID:controllers:path
        const auto second = line.find(':', line.find(':') + 1);
        if (second == std::string::npos) continue;
        const std::string path = line.substr(second + 1);
        std::vector<std::string> parts;
        std::string part;
        std::istringstream p(path);
        while (std::getline(p, part, '/')) parts.push_back(part);
        for (size_t i = parts.size(); i-- > 0;) {
            if (auto id = idOfUnit(parts[i])) {
                std::string unitPath;
                for (size_t j = 0; j <= i; ++j) {
                    if (!parts[j].empty()) unitPath += "/" + parts[j];
                }
                return std::pair{*id, unitPath};
            }
        }
    }
    return std::nullopt;
}

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}
} // namespace

std::optional<std::string> DesktopApplicationInfo::desktopIDFromCGroup(const std::string& cgroupText) {
    if (auto unit = appUnit(cgroupText)) return unit->first;
    return std::nullopt;
}

std::optional<std::string> DesktopApplicationInfo::appUnitPathFromCGroup(const std::string& cgroupText) {
    if (auto unit = appUnit(cgroupText)) return unit->second;
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopApplicationInfo::parseDesktopEntry(const std::string& text,
                                                                      const std::string& language) {
    std::istringstream in(text);
    std::string line;
    bool inGroup = false, seenGroup = false;
    DesktopEntry entry;
    std::string name, exact, shortName;
    const std::string shortLanguage = language.substr(0, language.find('_'));
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            seenGroup = seenGroup || inGroup;
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (key == "Name")
            name = value;
        else if (!language.empty() && key == "Name[" + language + "]")
            exact = value;
        else if (!shortLanguage.empty() && key == "Name[" + shortLanguage + "]")
            shortName = value;
        else if (key == "Icon")
            entry.icon = value;
        else if (key == "NoDisplay")
            entry.noDisplay = value == "true";
    }
    entry.name = !exact.empty() ? exact : !shortName.empty() ? shortName : name;
    if (!seenGroup || entry.name.empty()) return std::nullopt;
    return entry;
}

std::optional<std::string> DesktopApplicationInfo::flatpakIDFromInfo(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty() && line[0] == '[') {
            inGroup = line == "[Application]";
            continue;
        }
        if (inGroup && line.rfind("name=", 0) == 0 && line.size() > 5) return line.substr(5);
    }
    return std::nullopt;
}

std::string DesktopApplicationInfo::bundleID(const ProcessHints& hints) {
    for (const auto* part : {&hints.scopeDesktopID, &hints.applicationID, &hints.flatpakID, &hints.binary})
        if (*part && !(*part)->empty()) return **part;
    return {};
}

} // namespace orevant
