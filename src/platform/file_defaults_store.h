#pragma once
// The defaults store of the running agent: one JSON file, by default
// $XDG_CONFIG_HOME/orevant/defaults.json (or ~/.config/orevant/defaults.json).
//
// Every change rewrites the whole file atomically (temporary file, flush to disk, rename, flush
// the folder), so a crash at any moment leaves the old or the new file, never a torn one. The
// disk work runs on the store's own writer thread: a change hands the new set of values over
// and returns; while a write is under way, later changes replace each other and only the newest
// is written next. When defaults.json is a symbolic link, its target is the file rewritten
// (the temporary file goes beside the target), so a link into a dotfiles folder stays a link.
//
// Values keep their exact type (data, string, bool, integer, float, string array, dictionary).
// The file is read only when it is a regular file of at most 16 MB; one that cannot be read at
// all is moved aside (never deleted), logged at error level, and the store starts empty. Single
// entries that cannot be read (a wrong type, a value nested deeper than 64 levels) do not cost
// the others: the file is copied aside as it was found, each such entry is logged by key, and
// every other entry is kept.
//
// Threads: every method on the main queue; the disk writes on the writer thread.
#include "platform/defaults_store.h"

#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orevant {

class FileDefaultsStore final : public DefaultsStore {
public:
    static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
    static constexpr int kMaxDepth = 64;

    // Loads `file` at once; it and its folder are made at the first change.
    explicit FileDefaultsStore(std::filesystem::path file);
    // Writes the newest pending change before it returns.
    ~FileDefaultsStore() override;
    FileDefaultsStore(const FileDefaultsStore&) = delete;
    FileDefaultsStore& operator=(const FileDefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/orevant/defaults.json when XDG_CONFIG_HOME is an absolute path, else
    // $HOME/.config/orevant/defaults.json (the password database's home when HOME is unset).
    static std::filesystem::path defaultPath();

    std::optional<DefaultsValue> object(const std::string& key) const override;
    // A value whose text is not valid UTF-8 cannot be stored: that is logged and the previous
    // value stays. A failed write to disk is logged; the value is kept for this run and written
    // with the next change.
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    // Waits until every change made so far is on disk (or its write failed and was logged).
    void flush();

    const std::filesystem::path& path() const { return file_; }
    // Where an unreadable file found at start was moved (or, when only some entries could not be
    // read, copied), if it was.
    const std::optional<std::filesystem::path>& movedAsidePath() const { return movedAside_; }
    // The keys whose entries could not be read at start, with the reason for each.
    const std::map<std::string, std::string>& unreadableEntries() const { return unreadable_; }

    // The file's text for a set of values. Throws on text that is not UTF-8.
    static std::string encode(const std::map<std::string, DefaultsValue>& values);
    // The values of a file's text: nothing when the text is not such a file at all; otherwise
    // every readable entry, and in `unreadable` (when given) each other entry's key and reason.
    static std::optional<std::map<std::string, DefaultsValue>>
    decode(const std::string& text, std::map<std::string, std::string>* unreadable = nullptr);

private:
    using Values = std::map<std::string, DefaultsValue>;
    void load();
    void schedule();
    void writerLoop();
    void writeNow(const Values& values);
    std::optional<std::filesystem::path> asideName() const;
    void moveAside(const std::string& reason);
    void copyAside(const std::string& text);

    std::filesystem::path file_;
    Values values_;
    std::optional<std::filesystem::path> movedAside_;
    std::map<std::string, std::string> unreadable_;

    // Shared with the writer thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<const Values> pending_;
    uint64_t handedOver_ = 0; // changes handed to the writer
    uint64_t written_ = 0;    // changes the writer has finished with
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace orevant
