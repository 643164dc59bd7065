#pragma once
// Reading files that come from outside (settings, scenarios, audio sources) without trusting
// them: only a regular file is read (a FIFO would block for ever, a device such as /dev/zero
// would never end), and only up to a size bound. Symbolic links are followed, so a link to a
// regular file reads as that file. Any thread.
#include <cstddef>
#include <filesystem>
#include <string>

namespace orevant {

struct RegularFileRead {
    enum class Status { ok, missing, notRegular, tooLarge, failed };
    Status status = Status::failed;
    std::string text;   // the whole file when ok
    std::string reason; // why not, in words, otherwise
};

// Reads the whole of `path` when it is a regular file of at most `maxBytes`.
RegularFileRead readRegularFile(const std::filesystem::path& path, size_t maxBytes);

// Opens `path` for reading when it is a regular file of at most `maxBytes`; -1 otherwise, with
// `reason` set. The descriptor is blocking and close-on-exec; the caller closes it.
int openRegularFile(const std::filesystem::path& path, size_t maxBytes, std::string& reason);

} // namespace orevant
