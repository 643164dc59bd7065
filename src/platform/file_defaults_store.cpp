#include "platform/file_defaults_store.h"

#include "platform/logger.h"
#include "platform/regular_file.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
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
    if (j.is_discarded()) throw std::invalid_argument("nested deeper than 64 levels");
    if (!j.is_object() || j.size() != 2) throw std::invalid_argument("entry is not a typed value");
    const std::string& type = j.at("type").get_ref<const std::string&>();
    const json& v = j.at("value");
    if (type == "data") {
        auto bytes = unbase64(v.get_ref<const std::string&>());
        if (!bytes) throw std::invalid_argument("data is not base64");
        return DefaultsValue(std::move(*bytes));
    }
    if (type == "string") {
        // Written by hand or by another tool: a whole number where text belongs is its digits.
        if (v.is_number_integer()) return DefaultsValue(v.dump());
        return DefaultsValue(v.get_ref<const std::string&>());
    }
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

// The whole file may be read only this deep; deeper values make their entry unreadable. The
// parser itself keeps no recursion, so the bound costs nothing on ordinary files and keeps the
// work linear in the file's size on hostile ones.
json parseBounded(const std::string& text, std::set<std::string>& tooDeep) {
    std::string topKey, entryKey;
    return json::parse(text, [&](int depth, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::key) {
            if (depth == 1) topKey = parsed.get<std::string>();
            if (depth == 2 && topKey == "values") entryKey = parsed.get<std::string>();
            return true;
        }
        const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= FileDefaultsStore::kMaxDepth) {
            if (topKey == "values" && !entryKey.empty()) tooDeep.insert(entryKey);
            return false;
        }
        return true;
    });
}

std::string describe(const std::exception& error) {
    // nlohmann's texts start with "[json.exception.type_error.302] "; the rest says enough.
    std::string text = error.what();
    if (text.rfind("[json.exception.", 0) == 0) {
        if (const size_t end = text.find("] "); end != std::string::npos) text = text.substr(end + 2);
    }
    return text;
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

FileDefaultsStore::~FileDefaultsStore() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
}

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

std::optional<std::map<std::string, DefaultsValue>>
FileDefaultsStore::decode(const std::string& text, std::map<std::string, std::string>* unreadable) {
    std::set<std::string> tooDeep;
    json document;
    try {
        document = parseBounded(text, tooDeep);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!document.is_object() || !document.contains("format") || document.at("format") != kFormat) return std::nullopt;
    const auto values = document.find("values");
    if (values == document.end() || !values->is_object()) return std::nullopt;
    std::map<std::string, DefaultsValue> out;
    for (const auto& [key, entry] : values->get_ref<const json::object_t&>()) {
        try {
            if (tooDeep.count(key)) throw std::invalid_argument("nested deeper than 64 levels");
            out.emplace(key, decodeValue(entry));
        } catch (const std::exception& error) {
            if (unreadable) (*unreadable)[key] = describe(error);
        }
    }
    return out;
}

void FileDefaultsStore::load() {
    RegularFileRead read = readRegularFile(file_, kMaxFileBytes);
    if (read.status == RegularFileRead::Status::missing) return;
    if (read.status != RegularFileRead::Status::ok) {
        moveAside(read.reason);
        return;
    }
    std::map<std::string, std::string> unreadable;
    auto values = decode(read.text, &unreadable);
    if (!values) {
        moveAside("not a defaults file");
        return;
    }
    values_ = std::move(*values);
    if (unreadable.empty()) return;
    // The entries we could not read stay in the copy; the next change rewrites the file without them.
    copyAside(read.text);
    unreadable_ = std::move(unreadable);
    const std::string where = movedAside_ ? movedAside_->string() : std::string("nowhere (the copy failed)");
    for (const auto& [key, reason] : unreadable_) {
        log().error(strprintf("Defaults entry %s in %s cannot be read (%s); kept aside in %s", key.c_str(),
                              file_.c_str(), reason.c_str(), where.c_str()));
    }
}

std::optional<fs::path> FileDefaultsStore::asideName() const {
    for (int n = 1; n < 1000; ++n) {
        fs::path target = file_;
        target += n == 1 ? std::string(".unreadable") : ".unreadable." + std::to_string(n);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(target, ec))) return target;
    }
    return std::nullopt;
}

void FileDefaultsStore::moveAside(const std::string& reason) {
    const auto target = asideName();
    if (!target || ::rename(file_.c_str(), target->c_str()) != 0) {
        log().error(strprintf("Defaults file %s cannot be read (%s) nor moved aside (%s); starting empty",
                              file_.c_str(), reason.c_str(), target ? std::strerror(errno) : "no free name"));
        return;
    }
    movedAside_ = target;
    log().error(strprintf("Defaults file %s cannot be read (%s); moved it to %s and started empty", file_.c_str(),
                          reason.c_str(), target->c_str()));
}

void FileDefaultsStore::copyAside(const std::string& text) {
    const auto target = asideName();
    if (!target) return;
    const int fd = ::open(target->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    const bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    if (ok)
        movedAside_ = target;
    else
        ::unlink(target->c_str());
}

void FileDefaultsStore::writeNow(const Values& values) {
    std::string text;
    try {
        text = encode(values);
    } catch (const std::exception&) {
        return; // set() refuses such values; nothing else can bring one here
    }
    // A link (a dotfiles setup) stays a link: its target is what gets replaced.
    fs::path target = file_;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(file_, ec))) {
        target = fs::weakly_canonical(file_, ec);
        if (ec) {
            log().error(
                strprintf("Failed to write defaults file %s (resolve link: %s)", file_.c_str(), ec.message().c_str()));
            return;
        }
    }
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::create_directories(folder, ec);
    fs::path temporary = target;
    temporary += ".tmp";
    auto fail = [&](const char* step) {
        log().error(strprintf("Failed to write defaults file %s (%s: %s)", target.c_str(), step, std::strerror(errno)));
    };
    // O_NOFOLLOW: whatever sits at the temporary name is replaced, never written through.
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return fail("open");
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("write");
    }
    if (::close(fd) != 0) return fail("close");
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail("rename");
    // The rename itself must reach the disk before we call the change done.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void FileDefaultsStore::schedule() {
    auto snapshot = std::make_shared<const Values>(values_);
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(snapshot); // the newest wins
        ++handedOver_;
        if (!writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
    }
    changed_.notify_all();
}

void FileDefaultsStore::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return pending_ || stopping_; });
        if (!pending_) return; // stopping with nothing left to write
        const auto values = std::move(pending_);
        pending_.reset();
        const uint64_t upTo = handedOver_;
        lock.unlock();
        writeNow(*values);
        lock.lock();
        written_ = upTo;
        changed_.notify_all();
    }
}

void FileDefaultsStore::flush() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return written_ == handedOver_; });
}

std::optional<DefaultsValue> FileDefaultsStore::object(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void FileDefaultsStore::set(const std::string& key, DefaultsValue value) {
    try {
        (void)json{{key, encodeValue(value)}}.dump(); // throws on text that is not UTF-8
    } catch (const std::exception&) {
        log().error(strprintf("Value for %s holds text that is not UTF-8; not stored", key.c_str()));
        return;
    }
    values_[key] = std::move(value);
    schedule();
}

void FileDefaultsStore::remove(const std::string& key) {
    if (!values_.erase(key)) return;
    schedule();
}

} // namespace orevant
