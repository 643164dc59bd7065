#pragma once
// The launch and terminate hooks of the agent. Main thread only.

namespace orevant {

class AppDelegate {
public:
    // The agent stays resident: nothing here ends it when its last window closes.
    void applicationDidFinishLaunching();
    // Unless an update relaunch is under way: ends a take that is being recorded, so its files
    // are complete, then has the current engine bring attenuated applications back to unity
    // and release every tap.
    void applicationWillTerminate();

    bool didFinishLaunching() const { return didFinishLaunching_; }

private:
    bool didFinishLaunching_ = false;
};

} // namespace orevant
