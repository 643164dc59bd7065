#pragma once
// Starting and stopping multitrack takes on the shared recorder, the folder of the current or
// last take, and the automatic-recording switch, which keeps capture (and so every lane's
// pre-roll) running between takes. Which applications are recorded is the tap set's business:
// every tap has its application's lane.
//
// Threads: main queue only.
#include <filesystem>
#include <optional>
#include <string>

namespace orevant {

class AudioServer;
class DefaultsStore;
class MixRecorder;
struct AudioDevice;

class RecordingControl {
public:
    static constexpr double kDefaultSampleRate = 48000.0;

    // Without a recorder nothing is ever recorded.
    RecordingControl(AudioServer& server, DefaultsStore& defaults, MixRecorder* recorder);

    // Starts capture (unless running) at the output device's rate, or 48 kHz when that cannot be
    // read, and marks a take as under way. False, and nothing done, while recording, without a
    // recorder or without an output device.
    bool begin(const AudioDevice* outputDevice);
    // Opens the take's files in the chosen folder (or the default one) under the current time.
    void openTake();
    // Closes the take; capture stops too unless automatic recording is on. False when no take
    // was under way.
    bool end();
    // Stores the switch under "autoRec"; true when it changed.
    bool setAutoRec(bool on);

    bool isRecording() const { return isRecording_; }
    bool isAutoRec() const { return isAutoRec_; }
    // Folder of the current or last take.
    const std::optional<std::filesystem::path>& recordingURL() const { return recordingURL_; }
    // The user's chosen folder while a take records into it.
    const std::optional<std::filesystem::path>& scopedRecordingFolder() const { return scopedRecordingFolder_; }
    // Where the next take goes, for display.
    std::string folderDisplayPath() const;
    MixRecorder* recorder() const { return recorder_; }

private:
    AudioServer& server_;
    DefaultsStore& defaults_;
    MixRecorder* recorder_;
    bool isRecording_ = false;
    bool isAutoRec_ = false;
    std::optional<std::filesystem::path> recordingURL_;
    std::optional<std::filesystem::path> scopedRecordingFolder_;
};

} // namespace orevant
