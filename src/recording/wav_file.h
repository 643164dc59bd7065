#pragma once
// A RIFF/WAVE file of 32-bit IEEE float stereo samples, written through libsndfile. The header is
// rewritten after every write, so the file is playable up to its last written frame even if the
// process dies before closing it. Used on one thread at a time.
#include "recording/audio_file.h"

#include <filesystem>
#include <memory>

namespace orevant {

class WavFile final : public AudioFile {
public:
    // Creates the file; fails with std::errc::file_exists when something is already there.
    static std::unique_ptr<WavFile> create(const std::filesystem::path& path, double sampleRate);
    ~WavFile() override;
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    int64_t writeFrames(const float* interleaved, int64_t frames) override;
    std::string lastError() const override { return lastError_; }

private:
    explicit WavFile(void* handle) : handle_(handle) {}
    void* handle_; // SNDFILE*
    std::string lastError_;
};

// The default AudioFileOpener.
std::unique_ptr<AudioFile> openWavFile(const std::filesystem::path& path, double sampleRate);

} // namespace orevant
