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
    // read, and marks a take as under way. False, and nothing done, while recording or without
    // a recorder; false, with one error logged and kept in failure(), without an output device
    // or when the take's folder (the chosen one, else the default) cannot be made or written.
    bool begin(const AudioDevice* outputDevice);
    // Opens the take's files in the folder begin() settled on, under the current time, and says
    // where the take goes.
    void openTake();
    // Closes the take; capture stops too unless automatic recording is on. False when no take
    // was under way. A take stopped by a failed write keeps its reason in failure().
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
    // Why the last attempt to record was refused or the last take stopped early; cleared by the
    // next take that starts.
    const std::optional<std::string>& failure() const { return failure_; }
    MixRecorder* recorder() const { return recorder_; }

private:
    AudioServer& server_;
    DefaultsStore& defaults_;
    MixRecorder* recorder_;
    bool isRecording_ = false;
    bool isAutoRec_ = false;
    std::optional<std::filesystem::path> recordingURL_;
    std::optional<std::filesystem::path> scopedRecordingFolder_;
    // Settled by begin() for the take that openTake() opens.
    std::optional<std::filesystem::path> chosenFolder_;
    std::filesystem::path takeFolder_;
    std::optional<std::string> failure_;

    void refuse(std::string message);
};

} // namespace orevant
