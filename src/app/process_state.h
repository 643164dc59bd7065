#pragma once
// The process-wide flag that an update relaunch is under way: set only by UpdateController,
// read by the terminate hook, which then leaves the engine alone. Any thread.

namespace orevant {

bool isRelaunchingForUpdate();
void setRelaunchingForUpdate(bool relaunching);

} // namespace orevant
