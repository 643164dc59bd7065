#pragma once
// The UDP ports of the system's OSC links. The companion app and TotalMix expect exactly these.
#include <cstdint>

namespace orevant {

// The agent listens for the companion's commands here, on every interface.
inline constexpr uint16_t kCompanionCommandPort = 9000;
// "/app/list" and "/meters" go to this port of the phone's host.
inline constexpr uint16_t kCompanionReplyPort = 9001;
// TotalMix's OSC input on this computer.
inline constexpr uint16_t kTotalMixPort = 7001;

} // namespace orevant
