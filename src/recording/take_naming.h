#pragma once
// How takes and their files are named. Pure functions, any thread.
#include <chrono>
#include <string>

namespace orevant {

// "yyyy-MM-dd HH.mm.ss" of `when` in the user's local time zone, e.g. "2025-03-14 09.05.27".
std::string makeTakeStamp(std::chrono::system_clock::time_point when);

// "OREVANT <stamp> <source>.wav", the source name with "/" and ":" made "-" and outer blanks
// trimmed; "Source" when nothing is left.
std::string takeFileName(const std::string& stamp, const std::string& sourceName);

} // namespace orevant
