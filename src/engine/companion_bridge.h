#pragma once
// The engine's side of the phone companion feedback: the state document "/app/list" and the
// meter frames "/meters". The engine owns one (none until the companion is set up) and calls
// it wherever its state changes what the phone shows. Main queue only.
#include <map>
#include <string>

namespace orevant {

class CompanionBridge {
public:
    virtual ~CompanionBridge() = default;
    // Builds and sends the application list now (nothing while no phone is known). A send that
    // is due within 50 ms already covers the change, and then nothing more is sent.
    virtual void sendAppList() = 0;
    // Asks for one application-list send within 50 ms; further requests in that window join it.
    virtual void scheduleAppListSend() = 0;
    // Sends the meter levels, bundle ID -> 0...1, now.
    virtual void sendMeters(const std::map<std::string, float>& levels) = 0;
};

} // namespace orevant
