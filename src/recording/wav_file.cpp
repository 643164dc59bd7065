#include "recording/wav_file.h"

#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orevant {

std::unique_ptr<WavFile> WavFile::create(const std::filesystem::path& path, double sampleRate) {
    if (!(sampleRate >= 1.0) || sampleRate > 1e7)
        throw AudioFileError("invalid sample rate", std::make_error_code(std::errc::invalid_argument));
    // O_EXCL: two sources of one take, or two takes in the same second, must never share a file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        throw AudioFileError(path.string() + ": " + std::strerror(err), std::error_code(err, std::generic_category()));
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(sampleRate));
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file == nullptr) {
        const std::string reason = sf_strerror(nullptr);
        ::close(fd);
        std::error_code ec;
        std::filesystem::remove(path, ec);
        throw AudioFileError(path.string() + ": " + reason, std::make_error_code(std::errc::io_error));
    }
    // The PEAK chunk would cost a scan of every sample and a header field nobody reads.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return std::unique_ptr<WavFile>(new WavFile(file));
}

WavFile::~WavFile() { sf_close(static_cast<SNDFILE*>(handle_)); }

int64_t WavFile::writeFrames(const float* interleaved, int64_t frames) {
    if (frames <= 0) return 0;
    auto* file = static_cast<SNDFILE*>(handle_);
    const sf_count_t written = sf_writef_float(file, interleaved, frames);
    if (written < frames) lastError_ = sf_strerror(file);
    // Keep the RIFF and data sizes current, so a killed process leaves a playable file.
    if (written > 0) sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return written < 0 ? 0 : written;
}

std::unique_ptr<AudioFile> openWavFile(const std::filesystem::path& path, double sampleRate) {
    return WavFile::create(path, sampleRate);
}

} // namespace orevant
