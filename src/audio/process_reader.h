#pragma once
// Typed questions about the audio server's process objects for the layers above the audio layer.
#include <cstdint>
#include <optional>
#include <string>

namespace orevant {

class AudioServer;

// The application ID the process `pid` declared to the audio server, if any of its process
// objects carries one. Absorbs the server's errors: a process it cannot read has declared nothing.
std::optional<std::string> declaredApplicationID(AudioServer& server, int32_t pid);

} // namespace orevant
