#include "app/app_delegate.h"

#include "app/process_state.h"
#include "engine/mixer_engine.h"

namespace orevant {

void AppDelegate::applicationDidFinishLaunching() { didFinishLaunching_ = true; }

void AppDelegate::applicationWillTerminate() {
    if (isRelaunchingForUpdate()) return;
    MixerEngine* engine = MixerEngine::current();
    if (!engine) return;
    // A take left open at exit would end without its last buffered audio.
    if (engine->isRecording()) engine->stopRecording();
    engine->shutdown();
}

} // namespace orevant
