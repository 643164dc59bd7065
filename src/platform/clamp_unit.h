#pragma once
// Control values are 0...1 everywhere (levels, cue levels, bus levels); this limits a value to
// that range. Pure; any thread, wait-free.

namespace orevant {

// `value` limited to 0...1; a NaN becomes `nanValue` (0 for levels the user set, 1 for the
// companion's OSC values, whose protocol reads a NaN as full scale).
constexpr float clampUnit(float value, float nanValue = 0.0f) noexcept {
    if (value != value) return nanValue; // NaN
    return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

} // namespace orevant
