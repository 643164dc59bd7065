#include "platform/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orevant {

namespace {

// -1 with `status` and `reason` set when `path` is not a regular file within the bound.
int openChecked(const std::filesystem::path& path, size_t maxBytes, RegularFileRead::Status& status,
                std::string& reason) {
    // Non-blocking, so that opening a FIFO with no writer returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        status = errno == ENOENT ? RegularFileRead::Status::missing : RegularFileRead::Status::failed;
        reason = std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        status = RegularFileRead::Status::failed;
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        status = RegularFileRead::Status::notRegular;
        reason = "not a regular file";
        ::close(fd);
        return -1;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        status = RegularFileRead::Status::tooLarge;
        reason = "larger than " + std::to_string(maxBytes) + " bytes";
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    status = RegularFileRead::Status::ok;
    return fd;
}

} // namespace

int openRegularFile(const std::filesystem::path& path, size_t maxBytes, std::string& reason) {
    RegularFileRead::Status status{};
    return openChecked(path, maxBytes, status, reason);
}

RegularFileRead readRegularFile(const std::filesystem::path& path, size_t maxBytes) {
    RegularFileRead result;
    const int fd = openChecked(path, maxBytes, result.status, result.reason);
    if (fd < 0) return result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.status = RegularFileRead::Status::failed;
            result.reason = std::strerror(errno);
            break;
        }
        if (n == 0) break;
        // The file may grow while it is read; the bound holds all the same.
        if (result.text.size() + static_cast<size_t>(n) > maxBytes) {
            result.status = RegularFileRead::Status::tooLarge;
            result.reason = "larger than " + std::to_string(maxBytes) + " bytes";
            break;
        }
        result.text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (result.status != RegularFileRead::Status::ok) result.text.clear();
    return result;
}

} // namespace orevant
