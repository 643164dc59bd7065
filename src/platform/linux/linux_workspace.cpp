#include "platform/linux/linux_workspace.h"

#include "platform/linux/desktop_application_info.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orevant {

namespace {
constexpr size_t kMaxFileBytes = 64 * 1024;
constexpr int kMaxParentSteps = 64;

std::string procPath(const std::string& proc, int32_t pid, const char* leaf) {
    return proc + "/" + std::to_string(pid) + "/" + leaf;
}

bool validID(const std::string& id) {
    // A desktop ID names a file: no path separators, no parent folders.
    return !id.empty() && id.size() < 256 && id.find('/') == std::string::npos && id != "." && id != "..";
}
} // namespace

LinuxWorkspace::Paths LinuxWorkspace::defaultPaths() {
    Paths paths;
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome)
        paths.applicationDirs.push_back(std::string(dataHome) + "/applications");
    else if (home && *home)
        paths.applicationDirs.push_back(std::string(home) + "/.local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty()) paths.applicationDirs.push_back(dir + "/applications");
    paths.applicationDirs.push_back("/var/lib/flatpak/exports/share/applications");
    return paths;
}

LinuxWorkspace::LinuxWorkspace(std::string mainBundleIdentifier, ApplicationIDLookup applicationID, Paths paths)
    : mainBundleIdentifier_(std::move(mainBundleIdentifier)),
      applicationID_(std::move(applicationID)),
      paths_(std::move(paths)) {}

std::optional<std::string> LinuxWorkspace::readFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::optional<std::string> LinuxWorkspace::executable(int32_t pid) const {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(procPath(paths_.proc, pid, "exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<size_t>(n));
        if (const auto deleted = path.rfind(" (deleted)"); deleted != std::string::npos) path.resize(deleted);
        return path.substr(path.rfind('/') + 1);
    }
    // Another user's process: its command name is still readable.
    auto comm = readFile(procPath(paths_.proc, pid, "comm"));
    if (!comm) return std::nullopt;
    while (!comm->empty() && (comm->back() == '\n' || comm->back() == '\0')) comm->pop_back();
    return comm->empty() ? std::nullopt : comm;
}

namespace {
// The fields after the command name of /proc/PID/stat (the name may hold spaces and parentheses).
std::vector<std::string> statFields(const std::string& text) {
    std::vector<std::string> fields;
    const auto close = text.rfind(')');
    if (close == std::string::npos) return fields;
    std::istringstream in(text.substr(close + 1));
    std::string field;
    while (in >> field) fields.push_back(field);
    return fields;
}
} // namespace

std::optional<int32_t> LinuxWorkspace::parent(int32_t pid) const {
    auto text = readFile(procPath(paths_.proc, pid, "stat"));
    if (!text) return std::nullopt;
    const auto fields = statFields(*text);
    if (fields.size() < 2) return std::nullopt;
    const long ppid = std::strtol(fields[1].c_str(), nullptr, 10);
    return ppid > 0 && ppid <= INT32_MAX ? std::optional<int32_t>(static_cast<int32_t>(ppid)) : std::nullopt;
}

std::optional<unsigned long long> LinuxWorkspace::startTime(int32_t pid) const {
    auto text = readFile(procPath(paths_.proc, pid, "stat"));
    if (!text) return std::nullopt;
    const auto fields = statFields(*text);
    if (fields.size() < 20) return std::nullopt; // starttime is field 22 of the whole line
    return std::strtoull(fields[19].c_str(), nullptr, 10);
}

std::string LinuxWorkspace::language() const {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            std::string text = value;
            return text.substr(0, text.find_first_of(".@"));
        }
    }
    return {};
}

std::optional<std::string> LinuxWorkspace::desktopEntryText(const std::string& desktopID) const {
    if (!validID(desktopID)) return std::nullopt;
    for (const std::string& dir : paths_.applicationDirs)
        if (auto text = readFile(dir + "/" + desktopID + ".desktop")) return text;
    return std::nullopt;
}

std::optional<RunningApplication> LinuxWorkspace::runningApplication(int32_t pid) const {
    if (pid <= 0) return std::nullopt;
    ProcessHints hints;
    struct stat info {};
    const bool exists = ::stat((paths_.proc + "/" + std::to_string(pid)).c_str(), &info) == 0;
    if (applicationID_) hints.applicationID = applicationID_(pid);
    // A pid we cannot see (a sandbox's own numbering) is an application only if it told the
    // audio server who it is.
    if (!exists && !hints.applicationID) return std::nullopt;
    if (exists) {
        if (auto cgroup = readFile(procPath(paths_.proc, pid, "cgroup")))
            hints.scopeDesktopID = DesktopApplicationInfo::desktopIDFromCGroup(*cgroup);
        if (auto flatpak = readFile(procPath(paths_.proc, pid, "root/.flatpak-info")))
            hints.flatpakID = DesktopApplicationInfo::flatpakIDFromInfo(*flatpak);
        hints.binary = executable(pid);
    }
    RunningApplication app;
    app.processIdentifier = pid;
    const std::string bundle = DesktopApplicationInfo::bundleID(hints);
    if (!bundle.empty()) app.bundleIdentifier = bundle;
    app.activationPolicy = ActivationPolicy::accessory;
    std::optional<DesktopEntry> entry;
    for (const auto* id : {&hints.scopeDesktopID, &hints.applicationID, &hints.flatpakID}) {
        if (entry || !*id) continue;
        if (auto text = desktopEntryText(**id)) entry = DesktopApplicationInfo::parseDesktopEntry(*text, language());
    }
    if (entry) {
        app.localizedName = entry->name;
        app.activationPolicy = entry->noDisplay ? ActivationPolicy::accessory : ActivationPolicy::regular;
    }
    return app;
}

std::optional<std::string> LinuxWorkspace::iconName(int32_t pid) const {
    auto app = runningApplication(pid);
    if (!app || !app->bundleIdentifier) return std::nullopt;
    auto text = desktopEntryText(*app->bundleIdentifier);
    if (!text) return std::nullopt;
    auto entry = DesktopApplicationInfo::parseDesktopEntry(*text, language());
    if (!entry || entry->icon.empty()) return std::nullopt;
    return entry->icon;
}

int32_t LinuxWorkspace::responsibleProcess(int32_t pid) const {
    // The application scope's first process leads it.
    if (auto cgroup = readFile(procPath(paths_.proc, pid, "cgroup"))) {
        if (auto unit = DesktopApplicationInfo::appUnitPathFromCGroup(*cgroup)) {
            if (auto procs = readFile(paths_.cgroupRoot + *unit + "/cgroup.procs")) {
                std::istringstream in(*procs);
                long candidate = 0;
                int32_t leader = 0;
                unsigned long long earliest = ULLONG_MAX;
                while (in >> candidate) {
                    if (candidate <= 0 || candidate > INT32_MAX) continue;
                    const auto started = startTime(static_cast<int32_t>(candidate));
                    if (started && *started < earliest) {
                        earliest = *started;
                        leader = static_cast<int32_t>(candidate);
                    }
                }
                if (leader > 0) return leader;
            }
        }
    }
    // Else the parent chain, as long as it runs the same program.
    const auto program = executable(pid);
    if (!program) return pid;
    int32_t owner = pid;
    for (int step = 0; step < kMaxParentSteps; ++step) {
        auto up = parent(owner);
        if (!up || *up <= 1 || executable(*up) != program) break;
        owner = *up;
    }
    return owner;
}

} // namespace orevant
