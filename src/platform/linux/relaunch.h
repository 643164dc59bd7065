#pragma once
// Starts the agent again in this process, with the arguments it was started with, from the
// executable's path (after an update that path holds the new program, while the running image
// is the old one). Main thread, after everything has shut down.
#include <string>

namespace orevant {

// Only returns when the exec failed; the text says why.
std::string relaunchSelf();
// The executable's path as the kernel reports it, without the " (deleted)" mark of a program
// replaced on disk since it started.
std::string installedExecutablePath(std::string reported);

} // namespace orevant
