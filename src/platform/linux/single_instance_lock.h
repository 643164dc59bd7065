#pragma once
// One running copy per user session: an advisory lock (flock) on a file in $XDG_RUNTIME_DIR
// (or /tmp when that is unset). The copy that holds the lock writes its executable path into the
// file, so a second copy can say where the first one runs from. The lock ends with the process,
// however it ends, so a crashed copy never blocks the next one.
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
        unavailable,   // the lock file could not be opened (the check cannot be made)
    };

    explicit SingleInstanceLock(std::string path);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // "$XDG_RUNTIME_DIR/<name>.lock" when XDG_RUNTIME_DIR is an absolute path, else "/tmp/<name>-<uid>.lock".
    static std::string defaultPath(const std::string& name);
    // This process's executable, as the kernel reports it (empty when unknown).
    static std::string currentExecutablePath();

    // Takes the lock without waiting and, when it got it, records `executablePath`.
    Outcome tryAcquire(const std::string& executablePath);
    // After heldByAnother: the path the holder recorded, or nothing when it recorded none yet.
    const std::optional<std::string>& holderPath() const { return holderPath_; }
    // After unavailable: the system's reason.
    const std::string& errorText() const { return error_; }
    bool isHeld() const { return held_; }
    const std::string& path() const { return path_; }
    // Gives the lock up (the file stays: removing it would race with a copy that just opened it).
    void release();

private:
    std::string path_;
    int fd_ = -1;
    bool held_ = false;
    std::optional<std::string> holderPath_;
    std::string error_;
};

} // namespace orevant
