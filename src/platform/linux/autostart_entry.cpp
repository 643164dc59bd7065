#include "platform/linux/autostart_entry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace orevant {

namespace {

std::string trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

std::filesystem::path homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

} // namespace

AutostartEntry::AutostartEntry(std::filesystem::path file, std::string executablePath)
    : file_(std::move(file)), executablePath_(std::move(executablePath)) {}

std::filesystem::path AutostartEntry::defaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        (config && config[0] == '/') ? std::filesystem::path(config) : homeDirectory() / ".config";
    return base / "autostart" / "orevant.desktop";
}

bool AutostartEntry::isEnabled() const {
    std::ifstream in(file_);
    if (!in) return false;
    bool inMainGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

std::string AutostartEntry::quoteExecArgument(const std::string& argument) {
    // Reserved characters force quoting; inside quotes ", `, $ and \ are escaped with a
    // backslash, and a literal % is written %%.
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    bool needsQuotes = argument.empty();
    std::string escaped;
    for (char c : argument) {
        if (reserved.find(c) != std::string::npos) needsQuotes = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') escaped += '\\';
        if (c == '%') escaped += '%';
        escaped += c;
    }
    if (!needsQuotes) return escaped;
    return "\"" + escaped + "\"";
}

std::string AutostartEntry::desktopEntryText(const std::string& executablePath) {
    // Exec values are themselves a "string" in the desktop entry format, so every backslash
    // of the quoted argument is written twice.
    std::string exec;
    for (char c : quoteExecArgument(executablePath)) {
        if (c == '\\') exec += '\\';
        exec += c;
    }
    std::ostringstream out;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=OREVANT\n"
        << "Comment=Per-application volume, output buses and recording\n"
        << "Exec=" << exec << "\n"
        << "Terminal=false\n"
        << "NoDisplay=true\n"
        << "X-GNOME-Autostart-enabled=true\n";
    return out.str();
}

void AutostartEntry::registerEntry() const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec) throw std::system_error(ec, "cannot make " + file_.parent_path().string());
    const std::filesystem::path temporary = file_.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << desktopEntryText(executablePath_);
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            throw std::system_error(std::make_error_code(std::errc::io_error), "cannot write " + temporary.string());
        }
    }
    std::filesystem::rename(temporary, file_, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::system_error(ec, "cannot write " + file_.string());
    }
}

void AutostartEntry::unregisterEntry() const {
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    if (ec) throw std::system_error(ec, "cannot remove " + file_.string());
}

} // namespace orevant
