#include "recording/recording_folder.h"

#include "platform/defaults_store.h"
#include "platform/logger.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace orevant {

namespace {

namespace fs = std::filesystem;

const Logger& folderLog() {
    static const Logger logger("Recording");
    return logger;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

fs::path withoutTrailingSlash(fs::path path) {
    path = path.lexically_normal();
    if (path.has_relative_path() && path.filename().empty()) path = path.parent_path();
    return path;
}

// The value of `key` in user-dirs.dirs ("$HOME/Music" or an absolute path), if it names a
// directory other than the home directory itself (which means "not set").
std::optional<fs::path> userDirectory(const std::string& key) {
    if (auto fromEnvironment = environment(key.c_str()); !fromEnvironment.empty()) return fs::path(fromEnvironment);
    std::string configHome = environment("XDG_CONFIG_HOME");
    const fs::path config = configHome.empty() ? RecordingFolder::homeDirectory() / ".config" : fs::path(configHome);
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        fs::path path;
        if (value.rfind("$HOME", 0) == 0)
            path = RecordingFolder::homeDirectory().string() + value.substr(5);
        else if (!value.empty() && value.front() == '/')
            path = value;
        else
            return std::nullopt;
        if (withoutTrailingSlash(path) == withoutTrailingSlash(RecordingFolder::homeDirectory())) return std::nullopt;
        return path;
    }
    return std::nullopt;
}

std::optional<std::string> storedPath(const DefaultsStore& defaults) {
    if (auto data = defaults.data(RecordingFolder::kBookmarkKey)) return std::string(data->begin(), data->end());
    if (auto text = defaults.string(RecordingFolder::kBookmarkKey)) return *text;
    return std::nullopt;
}

} // namespace

fs::path RecordingFolder::homeDirectory() {
    if (auto home = environment("HOME"); !home.empty()) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return fs::temp_directory_path();
}

fs::path RecordingFolder::musicDirectory() {
    return userDirectory("XDG_MUSIC_DIR").value_or(homeDirectory() / "Music");
}

fs::path RecordingFolder::documentsDirectory() {
    return userDirectory("XDG_DOCUMENTS_DIR").value_or(homeDirectory() / "Documents");
}

std::optional<fs::path> RecordingFolder::resolveChosenFolder() const {
    const auto stored = storedPath(defaults_);
    if (!stored) return std::nullopt;
    const fs::path folder(*stored);
    std::error_code ec;
    if (folder.empty() || !folder.is_absolute() || !fs::is_directory(folder, ec) ||
        ::access(folder.c_str(), W_OK | X_OK) != 0) {
        folderLog().error("The chosen recording folder cannot be used; using the default folder");
        return std::nullopt;
    }
    return folder;
}

fs::path RecordingFolder::defaultFolder() const {
    const fs::path folder = musicDirectory() / "OREVANT";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec && fs::is_directory(folder, ec)) return folder;
    const fs::path documents = documentsDirectory();
    fs::create_directories(documents, ec);
    return documents;
}

bool RecordingFolder::saveBookmark(const fs::path& folder) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (ec || folder.empty() || !fs::is_directory(absolute, ec)) {
        folderLog().error("Could not remember the chosen recording folder");
        return false;
    }
    const std::string path = absolute.lexically_normal().string();
    defaults_.set(kBookmarkKey, DefaultsData(path.begin(), path.end()));
    return true;
}

fs::path RecordingFolder::takeFolder() const {
    if (auto chosen = resolveChosenFolder()) return *chosen;
    return defaultFolder();
}

std::string RecordingFolder::displayFolderPath() const {
    const fs::path folder = takeFolder().lexically_normal();
    const fs::path home = homeDirectory().lexically_normal();
    // Inside the home folder the path is shown as the desktop's file managers show it.
    if (!home.empty() && home != home.root_path()) {
        const fs::path inside = folder.lexically_relative(home);
        if (!inside.empty() && *inside.begin() != "..") return inside == "." ? "~" : "~/" + inside.string();
    }
    return folder.string();
}

fs::path RecordingFolder::intendedFolder() const {
    if (auto chosen = resolveChosenFolder()) return *chosen;
    return musicDirectory() / "OREVANT";
}

std::optional<std::string> RecordingFolder::unusableReason(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return std::string(std::strerror(errno));
    if (!S_ISDIR(info.st_mode)) return std::string("not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::string(std::strerror(errno));
    return std::nullopt;
}

} // namespace orevant
