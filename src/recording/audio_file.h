#pragma once
// An audio file being written: interleaved stereo 32-bit float frames. Used on one thread at a
// time (a lane's writer queue).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

namespace orevant {

// A file that could not be created. `code()` says why (std::errc::file_exists when the name is
// taken).
class AudioFileError : public std::runtime_error {
public:
    AudioFileError(const std::string& what, std::error_code code) : std::runtime_error(what), code_(code) {}
    std::error_code code() const { return code_; }

private:
    std::error_code code_;
};

class AudioFile {
public:
    virtual ~AudioFile() = default;
    // Appends `frames` interleaved stereo frames. Returns how many reached the file; fewer than
    // asked means the write failed and `lastError()` says why.
    virtual int64_t writeFrames(const float* interleaved, int64_t frames) = 0;
    virtual std::string lastError() const = 0;
};

// Creates a new file at a path for stereo float audio at a sample rate; never replaces an
// existing file. Throws AudioFileError.
using AudioFileOpener = std::function<std::unique_ptr<AudioFile>(const std::filesystem::path&, double sampleRate)>;

} // namespace orevant
