#include "platform/linux/single_instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace orevant {

SingleInstanceLock::SingleInstanceLock(std::string path) : path_(std::move(path)) {}

SingleInstanceLock::~SingleInstanceLock() { release(); }

std::string SingleInstanceLock::defaultPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/" + name + ".lock";
    // /tmp is shared by every user: the uid keeps one user's copy from blocking another's.
    return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

std::string SingleInstanceLock::currentExecutablePath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

SingleInstanceLock::Outcome SingleInstanceLock::tryAcquire(const std::string& executablePath) {
    if (held_) return Outcome::acquired;
    holderPath_.reset();
    error_.clear();
    if (fd_ < 0) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = std::strerror(errno);
            return Outcome::unavailable;
        }
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            error_ = std::strerror(errno);
            ::close(fd_);
            fd_ = -1;
            return Outcome::unavailable;
        }
        std::string text;
        char buffer[4096];
        ssize_t n;
        off_t offset = 0;
        while ((n = ::pread(fd_, buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
            offset += n;
            if (text.size() > 64 * 1024) break;
        }
        // The holder writes its path followed by a newline; without the newline the holder is
        // still writing (or wrote nothing), and its location is unknown.
        const size_t end = text.find('\n');
        if (end != std::string::npos && end > 0) holderPath_ = text.substr(0, end);
        ::close(fd_);
        fd_ = -1;
        return Outcome::heldByAnother;
    }
    held_ = true;
    const std::string line = executablePath + "\n";
    if (::ftruncate(fd_, 0) == 0 && !executablePath.empty()) {
        // A short write only costs the second copy the path; the lock itself is what counts.
        [[maybe_unused]] ssize_t written = ::pwrite(fd_, line.data(), line.size(), 0);
    }
    return Outcome::acquired;
}

void SingleInstanceLock::release() {
    if (fd_ >= 0) {
        if (held_) {
            [[maybe_unused]] int rc = ::ftruncate(fd_, 0);
            ::flock(fd_, LOCK_UN);
        }
        ::close(fd_);
    }
    fd_ = -1;
    held_ = false;
}

} // namespace orevant
