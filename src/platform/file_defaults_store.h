#pragma once
// The defaults store of the running agent: one JSON file, by default
// $XDG_CONFIG_HOME/orevant/defaults.json (or ~/.config/orevant/defaults.json).
//
// Every change rewrites the whole file atomically (temporary file, flush to disk, rename, flush
// the folder), so a crash at any moment leaves the old or the new file, never a torn one. Values
// keep their exact type (data, string, bool, integer, float, string array, dictionary). A file
// that cannot be read is moved aside (never deleted), logged at error level, and the store
// starts empty.
//
// Main queue only.
#include "platform/defaults_store.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace orevant {

class FileDefaultsStore final : public DefaultsStore {
public:
    // Loads `file` at once; it and its folder are made at the first change.
    explicit FileDefaultsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME/orevant/defaults.json when XDG_CONFIG_HOME is an absolute path, else
    // $HOME/.config/orevant/defaults.json (the password database's home when HOME is unset).
    static std::filesystem::path defaultPath();

    std::optional<DefaultsValue> object(const std::string& key) const override;
    // A value whose text is not valid UTF-8 cannot be stored: that is logged and the previous
    // value stays. A failed write to disk is logged; the value is kept for this run and written
    // with the next change.
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;

    const std::filesystem::path& path() const { return file_; }
    // Where an unreadable file found at start was moved, if one was.
    const std::optional<std::filesystem::path>& movedAsidePath() const { return movedAside_; }

    // The file's text for a set of values, and back (nothing when the text is not such a file).
    // Exposed for tests and tools.
    static std::string encode(const std::map<std::string, DefaultsValue>& values);
    static std::optional<std::map<std::string, DefaultsValue>> decode(const std::string& text);

private:
    void load();
    bool write(const std::map<std::string, DefaultsValue>& values);
    void moveAside(const std::string& reason);

    std::filesystem::path file_;
    std::map<std::string, DefaultsValue> values_;
    std::optional<std::filesystem::path> movedAside_;
};

} // namespace orevant
