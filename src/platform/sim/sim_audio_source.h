#pragma once
// What a simulated process plays.
#include <string>

namespace orevant {

struct SimAudioSource {
    enum class Kind { silence, sine, noise, wav };
    Kind kind = Kind::silence;
    double frequency = 440.0; // sine
    float amplitude = 0.5f;   // sine and noise: peak amplitude
    int channels = 2;         // 1 (mono, the same on both channels) or 2
    std::string path;         // wav: file to play, looped
};

} // namespace orevant
