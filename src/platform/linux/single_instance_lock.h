#pragma once
// One running copy per user session: an advisory lock (flock) on a private folder of this user,
// "$XDG_RUNTIME_DIR/<name>" (or "$XDG_CACHE_HOME/<name>", else "~/.cache/<name>", when
// XDG_RUNTIME_DIR is unset: never a folder that other users can write into, such as /tmp).
// The folder is made with mode 0700, opened without following a symbolic link, and used only
// when this user owns it; a link or a file at its place (left by this user) is replaced.
// Locking the folder itself means nothing put at a path inside it can let a second copy run.
// The copy that holds the lock writes its executable path into "holder" in the folder, so a
// second copy can say where the first one runs from. The lock ends with the process, however
// it ends, so a crashed copy never blocks the next one.
//
// Main thread only.
#include <optional>
#include <string>

namespace orevant {

class SingleInstanceLock {
public:
    enum class Outcome {
        acquired,      // this process is the only copy
        heldByAnother, // another copy holds the lock; see holderPath()
        unavailable,   // the private folder could not be made or is not ours (the check cannot be made)
    };

    // `path` is the private folder.
    explicit SingleInstanceLock(std::string path);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // The private folder for `name` (see above).
    static std::string defaultPath(const std::string& name);
    // This process's executable, as the kernel reports it (empty when unknown).
    static std::string currentExecutablePath();

    // Takes the lock without waiting and, when it got it, records `executablePath`.
    Outcome tryAcquire(const std::string& executablePath);
    // After heldByAnother: the path the holder recorded, or nothing when it recorded none yet.
    const std::optional<std::string>& holderPath() const { return holderPath_; }
    // After unavailable: the reason.
    const std::string& errorText() const { return error_; }
    bool isHeld() const { return held_; }
    const std::string& path() const { return path_; }
    // Gives the lock up (the folder stays: removing it would race with a copy that just opened it).
    void release();

private:
    int openPrivateFolder();

    std::string path_;
    int fd_ = -1;
    bool held_ = false;
    std::optional<std::string> holderPath_;
    std::string error_;
};

} // namespace orevant
