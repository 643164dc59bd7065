#include "engine/recording_control.h"

#include "audio/audio_device.h"
#include "audio/device_reader.h"
#include "audio/hal_error.h"
#include "persistence/defaults_keys.h"
#include "platform/defaults_store.h"
#include "platform/logger.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/take_naming.h"

#include <chrono>

namespace orevant {

RecordingControl::RecordingControl(AudioServer& server, DefaultsStore& defaults, MixRecorder* recorder)
    : server_(server), defaults_(defaults), recorder_(recorder) {}

namespace {
const Logger& recordingLog() {
    static const Logger logger("Recording");
    return logger;
}
} // namespace

void RecordingControl::refuse(std::string message) {
    recordingLog().error(message);
    failure_ = std::move(message);
}

bool RecordingControl::begin(const AudioDevice* outputDevice) {
    if (isRecording_ || !recorder_) return false;
    if (!outputDevice) {
        refuse("Not recording: there is no output device");
        return false;
    }
    // The folder is settled first: a take whose files could not be made is refused whole.
    const RecordingFolder folders(defaults_);
    chosenFolder_ = folders.resolveChosenFolder();
    takeFolder_ = chosenFolder_ ? *chosenFolder_ : folders.defaultFolder();
    if (auto reason = RecordingFolder::unusableReason(takeFolder_)) {
        refuse(strprintf("Not recording: the folder %s cannot be used (%s)", takeFolder_.c_str(), reason->c_str()));
        return false;
    }
    failure_.reset();
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
    recorder_->openTake(takeFolder_, makeTakeStamp(std::chrono::system_clock::now()));
    recordingLog().notice(strprintf("Recording into %s", takeFolder_.c_str()));
    scopedRecordingFolder_ = chosenFolder_;
    recordingURL_ = takeFolder_;
}

bool RecordingControl::end() {
    if (!isRecording_) return false;
    isRecording_ = false;
    recorder_->closeTake();
    if (recorder_->takeFailure()) failure_ = recorder_->takeFailure();
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
