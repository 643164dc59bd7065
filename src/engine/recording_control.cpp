#include "engine/recording_control.h"

#include "audio/audio_device.h"
#include "audio/device_reader.h"
#include "audio/hal_error.h"
#include "persistence/defaults_keys.h"
#include "platform/defaults_store.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/take_naming.h"

#include <chrono>

namespace orevant {

RecordingControl::RecordingControl(AudioServer& server, DefaultsStore& defaults, MixRecorder* recorder)
    : server_(server), defaults_(defaults), recorder_(recorder) {}

bool RecordingControl::begin(const AudioDevice* outputDevice) {
    if (isRecording_ || !recorder_ || !outputDevice) return false;
    double rate = kDefaultSampleRate;
    try {
        const double nominal = DeviceReader(server_).nominalRate(outputDevice->id);
        // A device that reports no usable rate records at the default rather than at 0 Hz.
        if (nominal > 0) rate = nominal;
    } catch (const HALError&) {}
    if (!recorder_->isCapturing()) recorder_->startCapture(rate);
    isRecording_ = true;
    return true;
}

void RecordingControl::openTake() {
    if (!isRecording_) return;
    const RecordingFolder folders(defaults_);
    const std::optional<std::filesystem::path> chosen = folders.resolveChosenFolder();
    const std::filesystem::path folder = chosen ? *chosen : folders.defaultFolder();
    recorder_->openTake(folder, makeTakeStamp(std::chrono::system_clock::now()));
    scopedRecordingFolder_ = chosen;
    recordingURL_ = folder;
}

bool RecordingControl::end() {
    if (!isRecording_) return false;
    isRecording_ = false;
    recorder_->closeTake();
    if (!isAutoRec_) recorder_->stopCapture();
    // Folder access needs no release on this platform; only the folder is forgotten.
    scopedRecordingFolder_.reset();
    return true;
}

bool RecordingControl::setAutoRec(bool on) {
    defaults_.set(std::string(defaults_keys::autoRec), on);
    if (isAutoRec_ == on) return false;
    isAutoRec_ = on;
    return true;
}

std::string RecordingControl::folderDisplayPath() const { return RecordingFolder(defaults_).displayFolderPath(); }

} // namespace orevant
