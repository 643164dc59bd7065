// Recording control: multitrack takes in which every playing application is recorded on its own
// lane, and the automatic-recording switch that keeps capture (and so the pre-roll) running
// between takes.
#include "engine/mixer_engine.h"

#include "audio/hal.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/take_ceiling_handler.h"
#include "recording/take_naming.h"

#include <chrono>

namespace orevant {

void MixerEngine::startRecording() {
    MixRecorder* recorder = services_.recorder;
    if (isRecording_ || !recorder) return;
    const std::optional<AudioDevice> device = currentOutputDevice();
    if (!device) return;

    double rate = kDefaultRecordingSampleRate;
    try {
        const double nominal = HAL(services_.audioServer).read<double>(device->id, sel::nominalSampleRate);
        // A device that reports no usable rate records at the default rather than at 0 Hz.
        if (nominal > 0) rate = nominal;
    } catch (const HALError&) {}

    // A lane that outgrows its file stops the whole take, through whichever engine is current.
    setTakeCeilingHandler([] {
        if (MixerEngine* engine = MixerEngine::current()) engine->stopRecording();
    });

    if (!recorder->isCapturing()) recorder->startCapture(rate);
    isRecording_ = true;
    syncTaps();

    RecordingFolder folders(services_.defaults);
    const std::optional<std::filesystem::path> chosen = folders.resolveChosenFolder();
    const std::filesystem::path folder = chosen ? *chosen : folders.defaultFolder();
    recorder->openTake(folder, makeTakeStamp(std::chrono::system_clock::now()));

    scopedRecordingFolder_ = chosen;
    recordingURL_ = folder;
    sendAppList();
    changed();
}

void MixerEngine::stopRecording() {
    if (!isRecording_) return;
    isRecording_ = false;
    if (MixRecorder* recorder = services_.recorder) {
        recorder->closeTake();
        if (!isAutoRec_) recorder->stopCapture();
    }
    // Folder access needs no release on this platform; the engine only forgets the folder.
    scopedRecordingFolder_.reset();
    scheduleCoverageDrop();
    sendAppList();
    changed();
}

} // namespace orevant
