#include "engine/recording_indicator.h"

#include "engine/mixer_engine.h"
#include "platform/logger.h"
#include "recording/mix_recorder.h"

#include <algorithm>

namespace orevant {

RecordingIndicator::RecordingIndicator(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

RecordingIndicator::~RecordingIndicator() { guard_.end(); }

void RecordingIndicator::attach(MixerEngine& engine) {
    engine_ = &engine;
    update(engine.isRecording());
    observe();
}

void RecordingIndicator::detach() {
    token_.reset();
    engine_ = nullptr;
    update(false);
}

void RecordingIndicator::observe() {
    auto updateNow = guard_.wrap([this] {
        updatePending_ = false;
        if (engine_) update(engine_->isRecording());
    });
    token_ = engine_->addObserver(guard_.wrap([this, updateNow] {
        // Many engine changes in one main-queue turn make one update.
        if (updatePending_) return;
        updatePending_ = true;
        mainQueue_.post(updateNow);
    }));
}

void RecordingIndicator::update(bool isRecording) {
    if (isRecording == isShown_) return;
    isShown_ = isRecording;
    if (isRecording) {
        menu_ = {MenuItem{kTimeTitle, false, false, kTimeItemTag}, MenuItem{"", false, true, 0},
                 MenuItem{kStopTitle, true, false, 0}};
    } else {
        menu_.clear();
    }
    if (onChange) onChange();
}

void RecordingIndicator::menuWillOpen() {
    if (!isShown_ || !engine_) return;
    const MixRecorder* recorder = engine_->recorder();
    const std::string title =
        recorder ? elapsedTitle(recorder->maxHighWater(), recorder->sampleRate()) : elapsedTitle(0, 1.0);
    for (MenuItem& item : menu_) {
        if (item.tag == kTimeItemTag) item.title = title;
    }
    if (onChange) onChange();
}

void RecordingIndicator::stopRecording() {
    if (engine_) engine_->stopRecording();
}

std::string RecordingIndicator::elapsedTitle(int64_t frames, double sampleRate) {
    const auto seconds =
        static_cast<long long>(static_cast<double>(std::max<int64_t>(frames, 0)) / std::max(sampleRate, 1.0));
    return strprintf("Recording — %02lld:%02lld", seconds / 60, seconds % 60);
}

} // namespace orevant
