#include "platform/file_defaults_store.h"

#include "platform/logger.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace orevant {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const Logger& log() {
    static const Logger logger("FileDefaultsStore");
    return logger;
}

constexpr int kFormat = 1;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const DefaultsData& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(n >> shift) & 63];
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        uint32_t n = uint32_t{bytes[i]} << 16;
        if (rest == 2) n |= uint32_t{bytes[i + 1]} << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<DefaultsData> unbase64(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    DefaultsData out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pad == 1 && text[i + 2] == '=') return std::nullopt;
        uint32_t n = 0;
        for (int k = 0; k < 4; ++k) {
            int d = 0;
            if (k < 4 - pad) {
                d = digit(text[i + static_cast<size_t>(k)]);
                if (d < 0) return std::nullopt;
            }
            n = (n << 6) | static_cast<uint32_t>(d);
        }
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

json encodeValue(const DefaultsValue& value);

json tagged(const char* type, json v) { return json{{"type", type}, {"value", std::move(v)}}; }

json encodeValue(const DefaultsValue& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, DefaultsData>)
                return tagged("data", base64(v));
            else if constexpr (std::is_same_v<T, std::string>)
                return tagged("string", v);
            else if constexpr (std::is_same_v<T, bool>)
                return tagged("bool", v);
            else if constexpr (std::is_same_v<T, int64_t>)
                return tagged("integer", v);
            else if constexpr (std::is_same_v<T, double>) {
                // JSON has no words for these; written as text so they survive.
                if (std::isnan(v)) return tagged("real", "nan");
                if (std::isinf(v)) return tagged("real", v > 0 ? "inf" : "-inf");
                return tagged("real", v);
            } else if constexpr (std::is_same_v<T, DefaultsStringArray>)
                return tagged("stringArray", v);
            else {
                json entries = json::object();
                for (const auto& [key, inner] : v) entries[key] = encodeValue(inner);
                return tagged("dictionary", std::move(entries));
            }
        },
        value.value);
}

// Throws on anything that is not exactly what encodeValue writes.
DefaultsValue decodeValue(const json& j) {
    if (!j.is_object() || j.size() != 2) throw std::invalid_argument("entry is not a typed value");
    const std::string& type = j.at("type").get_ref<const std::string&>();
    const json& v = j.at("value");
    if (type == "data") {
        auto bytes = unbase64(v.get_ref<const std::string&>());
        if (!bytes) throw std::invalid_argument("data is not base64");
        return DefaultsValue(std::move(*bytes));
    }
    if (type == "string") return DefaultsValue(v.get_ref<const std::string&>());
    if (type == "bool") return DefaultsValue(v.get_ref<const bool&>());
    if (type == "integer") {
        if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > INT64_MAX))
            throw std::invalid_argument("integer out of range");
        return DefaultsValue(v.get<int64_t>());
    }
    if (type == "real") {
        if (v.is_string()) {
            const std::string& word = v.get_ref<const std::string&>();
            if (word == "nan") return DefaultsValue(std::nan(""));
            if (word == "inf") return DefaultsValue(HUGE_VAL);
            if (word == "-inf") return DefaultsValue(-HUGE_VAL);
            throw std::invalid_argument("real is not a number");
        }
        if (!v.is_number()) throw std::invalid_argument("real is not a number");
        return DefaultsValue(v.get<double>());
    }
    if (type == "stringArray") {
        DefaultsStringArray out;
        for (const json& s : v.get_ref<const json::array_t&>()) out.push_back(s.get_ref<const std::string&>());
        return DefaultsValue(std::move(out));
    }
    if (type == "dictionary") {
        DefaultsDictionary out;
        for (const auto& [key, inner] : v.get_ref<const json::object_t&>()) out.emplace(key, decodeValue(inner));
        return DefaultsValue(std::move(out));
    }
    throw std::invalid_argument("unknown value type");
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

FileDefaultsStore::FileDefaultsStore(std::filesystem::path file) : file_(std::move(file)) { load(); }

fs::path FileDefaultsStore::defaultPath() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return fs::path(xdg) / "orevant" / "defaults.json";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] != '\0') {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = ".";
    }
    return fs::path(home) / ".config" / "orevant" / "defaults.json";
}

std::string FileDefaultsStore::encode(const std::map<std::string, DefaultsValue>& values) {
    json entries = json::object();
    for (const auto& [key, value] : values) entries[key] = encodeValue(value);
    json document = {{"format", kFormat}, {"values", std::move(entries)}};
    return document.dump(1, '\t') + "\n"; // throws on text that is not UTF-8
}

std::optional<std::map<std::string, DefaultsValue>> FileDefaultsStore::decode(const std::string& text) {
    try {
        const json document = json::parse(text);
        if (!document.is_object() || document.at("format") != kFormat) return std::nullopt;
        std::map<std::string, DefaultsValue> out;
        for (const auto& [key, entry] : document.at("values").get_ref<const json::object_t&>())
            out.emplace(key, decodeValue(entry));
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void FileDefaultsStore::load() {
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) moveAside(std::strerror(errno));
        return;
    }
    std::string text;
    char buffer[65536];
    bool failed = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    auto values = failed ? std::nullopt : decode(text);
    if (!values) {
        moveAside(failed ? "read error" : "not a defaults file");
        return;
    }
    values_ = std::move(*values);
}

void FileDefaultsStore::moveAside(const std::string& reason) {
    fs::path target = file_;
    target += ".unreadable";
    for (int n = 2; fs::exists(fs::symlink_status(target)); ++n) {
        target = file_;
        target += ".unreadable." + std::to_string(n);
    }
    if (::rename(file_.c_str(), target.c_str()) != 0) {
        log().error(strprintf("Defaults file %s cannot be read (%s) nor moved aside (%s); starting empty",
                              file_.c_str(), reason.c_str(), std::strerror(errno)));
        return;
    }
    movedAside_ = target;
    log().error(strprintf("Defaults file %s cannot be read (%s); moved it to %s and started empty", file_.c_str(),
                          reason.c_str(), target.c_str()));
}

bool FileDefaultsStore::write(const std::map<std::string, DefaultsValue>& values) {
    std::string text;
    try {
        text = encode(values);
    } catch (const std::exception&) {
        return false;
    }
    const fs::path folder = file_.parent_path().empty() ? fs::path(".") : file_.parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::path temporary = file_;
    temporary += ".tmp";
    auto fail = [&](const char* step) {
        log().error(strprintf("Failed to write defaults file %s (%s: %s)", file_.c_str(), step, std::strerror(errno)));
        return true; // the value itself was fine; only the disk let us down
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fail("open");
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("write");
    }
    if (::close(fd) != 0) return fail("close");
    if (::rename(temporary.c_str(), file_.c_str()) != 0) return fail("rename");
    // The rename itself must reach the disk before we call the change done.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<DefaultsValue> FileDefaultsStore::object(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void FileDefaultsStore::set(const std::string& key, DefaultsValue value) {
    auto next = values_;
    next[key] = std::move(value);
    if (!write(next)) {
        log().error(strprintf("Value for %s holds text that is not UTF-8; not stored", key.c_str()));
        return;
    }
    values_ = std::move(next);
}

void FileDefaultsStore::remove(const std::string& key) {
    if (!values_.count(key)) return;
    auto next = values_;
    next.erase(key);
    write(next);
    values_ = std::move(next);
}

} // namespace orevant
