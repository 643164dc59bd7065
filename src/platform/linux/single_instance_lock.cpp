#include "platform/linux/single_instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orevant {

namespace {

constexpr const char* kHolderFile = "holder";
constexpr size_t kMaxHolderBytes = 4096;

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

} // namespace

SingleInstanceLock::SingleInstanceLock(std::string path) : path_(std::move(path)) {}

SingleInstanceLock::~SingleInstanceLock() { release(); }

std::string SingleInstanceLock::defaultPath(const std::string& name) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        return std::string(runtime) + "/" + name;
    // Without a runtime folder the user's own cache folder serves: unlike /tmp, no other user
    // can put anything there first.
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
        return std::string(cache) + "/" + name;
    return homeDirectory() + "/.cache/" + name;
}

std::string SingleInstanceLock::currentExecutablePath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

int SingleInstanceLock::openPrivateFolder() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int made = ::mkdir(path_.c_str(), 0700);
        if (made != 0 && errno == ENOENT) {
            // A fresh account may have no cache folder yet.
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
            made = ::mkdir(path_.c_str(), 0700);
        }
        if (made != 0 && errno != EEXIST) {
            error_ = std::strerror(errno);
            return -1;
        }
        const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            struct stat info {};
            if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid()) {
                error_ = "the folder belongs to another user";
                ::close(fd);
                return -1;
            }
            // Ours but open to others: close it before anything is written into it.
            if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
                error_ = std::strerror(errno);
                ::close(fd);
                return -1;
            }
            return fd;
        }
        // A link or a file in the folder's place: replaced when it is ours, never followed.
        struct stat info {};
        if ((errno != ELOOP && errno != ENOTDIR) || ::lstat(path_.c_str(), &info) != 0 || info.st_uid != ::getuid() ||
            S_ISDIR(info.st_mode) || ::unlink(path_.c_str()) != 0) {
            error_ = errno == ELOOP || errno == ENOTDIR ? "something else is in the folder's place"
                                                        : std::string(std::strerror(errno));
            return -1;
        }
    }
    error_ = "the folder keeps being replaced";
    return -1;
}

SingleInstanceLock::Outcome SingleInstanceLock::tryAcquire(const std::string& executablePath) {
    if (held_) return Outcome::acquired;
    holderPath_.reset();
    error_.clear();
    if (fd_ < 0) {
        fd_ = openPrivateFolder();
        if (fd_ < 0) return Outcome::unavailable;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            error_ = std::strerror(errno);
            ::close(fd_);
            fd_ = -1;
            return Outcome::unavailable;
        }
        // The holder writes its path followed by a newline; without the newline the holder is
        // still writing (or wrote nothing), and its location is unknown.
        const int holder = ::openat(fd_, kHolderFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info {};
        if (holder >= 0 && ::fstat(holder, &info) == 0 && S_ISREG(info.st_mode)) {
            char buffer[kMaxHolderBytes];
            const ssize_t n = ::pread(holder, buffer, sizeof buffer, 0);
            const std::string text = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
            const size_t end = text.find('\n');
            if (end != std::string::npos && end > 0) holderPath_ = text.substr(0, end);
        }
        if (holder >= 0) ::close(holder);
        ::close(fd_);
        fd_ = -1;
        return Outcome::heldByAnother;
    }
    held_ = true;
    if (!executablePath.empty()) {
        // A failed write only costs the second copy the path; the lock itself is what counts.
        ::unlinkat(fd_, kHolderFile, 0);
        const int holder = ::openat(fd_, kHolderFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (holder >= 0) {
            const std::string line = executablePath + "\n";
            [[maybe_unused]] ssize_t written = ::pwrite(holder, line.data(), line.size(), 0);
            ::close(holder);
        }
    } else {
        ::unlinkat(fd_, kHolderFile, 0);
    }
    return Outcome::acquired;
}

void SingleInstanceLock::release() {
    if (fd_ >= 0) {
        if (held_) {
            ::unlinkat(fd_, kHolderFile, 0);
            ::flock(fd_, LOCK_UN);
        }
        ::close(fd_);
    }
    fd_ = -1;
    held_ = false;
}

} // namespace orevant
