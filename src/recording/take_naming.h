#pragma once
// How takes and their files are named. Pure functions, any thread.
#include <chrono>
#include <cstddef>
#include <string>

namespace orevant {

// "yyyy-MM-dd HH.mm.ss" of `when` in the user's local time zone, e.g. "2025-03-14 09.05.27".
std::string makeTakeStamp(std::chrono::system_clock::time_point when);

// The longest file name the name of a take's file may have, in bytes, leaving room for the
// " <n>" that tells apart two sources of one name (file systems allow 255).
inline constexpr size_t kMaxTakeFileNameBytes = 250;

// "OREVANT <stamp> <source>.wav", the source name with "/", ":" and control characters (NUL,
// newline, tab ...) made "-" and outer blanks trimmed; "Source" when nothing is left. A long
// source name is shortened, on a UTF-8 character boundary, so that the whole name fits in
// kMaxTakeFileNameBytes and still ends in ".wav".
std::string takeFileName(const std::string& stamp, const std::string& sourceName);

} // namespace orevant
