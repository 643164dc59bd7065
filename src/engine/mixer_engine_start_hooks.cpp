// The start steps that connect the remote controls to the engine: the pairing PIN into the OSC
// listener, the MIDI control-change callback and the companion callbacks. The last two arrive
// with the control targets; until then they install nothing, so start() keeps its order.
#include "engine/mixer_engine.h"

#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"

namespace orevant {

void MixerEngine::installListenerPIN() { oscListener_->setPIN(pairingPIN_->pin()); }

// No MIDI control change reaches the engine yet: control changes are dropped by the manager.
void MixerEngine::installMIDICallback() {}

// No companion message reaches the engine yet: the listener ignores admitted messages whose
// callback is unset.
void MixerEngine::installCompanionCallbacks() {}

} // namespace orevant
