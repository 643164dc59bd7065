#pragma once
// The simulated audio server: objects with typed properties, listeners delivered on the main
// queue, failure injection, and (through SimAudioEngine) process taps, aggregate devices and IO.
//
// Threads: every method may be called from any thread but an IO thread. Listener blocks and
// nothing else run on the main queue. Observers run synchronously on the changing thread.
#include "platform/audio_server.h"
#include "platform/main_queue.h"
#include "platform/property_listeners.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <variant>

namespace orevant {

class SimAudioEngine;

namespace simclass {
inline constexpr uint32_t system = fourcc("asys");
inline constexpr uint32_t device = fourcc("adev");
inline constexpr uint32_t process = fourcc("clnt");
inline constexpr uint32_t tap = fourcc("tcls");
inline constexpr uint32_t aggregate = fourcc("aagg");
} // namespace simclass

class SimAudioServer final : public AudioServer {
public:
    explicit SimAudioServer(MainQueue& mainQueue);
    ~SimAudioServer() override;
    SimAudioServer(const SimAudioServer&) = delete;
    SimAudioServer& operator=(const SimAudioServer&) = delete;

    // AudioServer
    OSStatus getPropertyDataSize(AudioObjectID object, const PropertyAddress& address, uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t& size, void* data) override;
    OSStatus setPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t size,
                             const void* data) override;
    OSStatus isPropertySettable(AudioObjectID object, const PropertyAddress& address, bool& settable) override;
    OSStatus getPropertyString(AudioObjectID object, const PropertyAddress& address, std::string& out) override;
    OSStatus getPropertyStringList(AudioObjectID object, const PropertyAddress& address,
                                   std::vector<std::string>& out) override;
    OSStatus addPropertyListener(AudioObjectID object, const PropertyAddress& address, PropertyListenerBlock block,
                                 ListenerID& outID) override;
    OSStatus removePropertyListener(AudioObjectID object, const PropertyAddress& address, ListenerID id) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) override;
    OSStatus destroyIOProc(AudioObjectID device, IOProcID id) override;
    OSStatus startDevice(AudioObjectID device, IOProcID id) override;
    OSStatus stopDevice(AudioObjectID device, IOProcID id) override;

    // ---- Simulation side: objects ----
    AudioObjectID createObject(uint32_t classID);
    // Removes the object and its properties; listeners on it stay registered but never fire.
    void destroyObject(AudioObjectID object);
    bool exists(AudioObjectID object) const;
    uint32_t objectClass(AudioObjectID object) const; // 0 when absent
    std::vector<AudioObjectID> objectsOfClass(uint32_t classID) const;

    // ---- Simulation side: properties. Setters notify listeners unless `notify` is false. ----
    void setBytes(AudioObjectID object, uint32_t selector, uint32_t scope, std::vector<uint8_t> bytes,
                  bool notify = true);
    void setString(AudioObjectID object, uint32_t selector, uint32_t scope, std::string value, bool notify = true);
    void setStringList(AudioObjectID object, uint32_t selector, uint32_t scope, std::vector<std::string> value,
                       bool notify = true);
    template <typename T>
    void setValue(AudioObjectID object, uint32_t selector, uint32_t scope, const T& value, bool notify = true) {
        static_assert(std::is_trivially_copyable_v<T>);
        std::vector<uint8_t> bytes(sizeof(T));
        std::memcpy(bytes.data(), &value, sizeof(T));
        setBytes(object, selector, scope, std::move(bytes), notify);
    }
    void setIDs(AudioObjectID object, uint32_t selector, uint32_t scope, const std::vector<AudioObjectID>& ids,
                bool notify = true);
    // Adds / removes one ID of an ID-list property (for example "dev#" or "prs#"), notifying.
    void appendID(AudioObjectID object, uint32_t selector, uint32_t scope, AudioObjectID id);
    void removeID(AudioObjectID object, uint32_t selector, uint32_t scope, AudioObjectID id);
    void setSettable(AudioObjectID object, uint32_t selector, uint32_t scope, bool settable);
    void removeProperty(AudioObjectID object, uint32_t selector, uint32_t scope, bool notify = true);
    bool hasProperty(AudioObjectID object, uint32_t selector, uint32_t scope) const;

    std::optional<std::vector<uint8_t>> bytes(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    std::optional<std::string> string(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    std::optional<std::vector<std::string>> stringList(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    template <typename T>
    std::optional<T> value(AudioObjectID object, uint32_t selector, uint32_t scope) const {
        auto b = bytes(object, selector, scope);
        if (!b || b->size() < sizeof(T)) return std::nullopt;
        T out;
        std::memcpy(&out, b->data(), sizeof(T));
        return out;
    }
    std::vector<AudioObjectID> ids(AudioObjectID object, uint32_t selector, uint32_t scope) const;

    // Posts the listener blocks registered for this address to the main queue.
    void notify(AudioObjectID object, uint32_t selector, uint32_t scope);

    // ---- Failure injection: calls on (object, selector), any scope, return `status`. ----
    enum Op : unsigned { opGet = 1, opGetSize = 2, opSet = 4, opSettable = 8, opAll = 15 };
    void injectFailure(AudioObjectID object, uint32_t selector, OSStatus status, unsigned ops = opAll);
    void clearFailure(AudioObjectID object, uint32_t selector);
    void clearAllFailures();

    // ---- Observation for the simulation itself (and tests) ----
    enum class Event { created, destroyed, propertyChanged };
    using Observer = std::function<void(Event, AudioObjectID, const PropertyAddress&)>;
    // Runs synchronously on the thread that made the change, outside the server's lock.
    void addObserver(Observer observer);

    // Counts for tests.
    size_t clientWriteCount(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    size_t listenerCount(AudioObjectID object, uint32_t selector) const;
    size_t getCallCount(AudioObjectID object, uint32_t selector) const;

    MainQueue& mainQueue() { return mainQueue_; }
    SimAudioEngine& audio() { return *audio_; }

private:
    using Key = std::tuple<AudioObjectID, uint32_t, uint32_t>; // object, selector, scope
    using Value = std::variant<std::vector<uint8_t>, std::string, std::vector<std::string>>;
    struct Property {
        Value value;
        bool settable = false;
    };
    struct Object {
        uint32_t classID = 0;
        std::map<std::pair<uint32_t, uint32_t>, Property> properties; // (selector, scope)
    };

    // Caller holds mutex_.
    const Property* find(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    Property* find(AudioObjectID object, uint32_t selector, uint32_t scope);
    std::optional<OSStatus> injected(AudioObjectID object, uint32_t selector, Op op) const;
    // The property `op` reaches at `address`, or the status the operation fails with.
    OSStatus reach(AudioObjectID object, const PropertyAddress& address, Op op, const Property*& found) const;
    // A counted read of a value held as a T.
    template <typename T>
    OSStatus readAs(AudioObjectID object, const PropertyAddress& address, Op op, const T*& value) const;
    void store(AudioObjectID object, uint32_t selector, uint32_t scope, Value value, bool notify);
    void emit(Event event, AudioObjectID object, const PropertyAddress& address);

    MainQueue& mainQueue_;
    mutable std::mutex mutex_;
    std::map<AudioObjectID, Object> objects_;
    AudioObjectID nextObjectID_ = 2;
    PropertyListeners listeners_;
    std::map<std::pair<AudioObjectID, uint32_t>, std::pair<OSStatus, unsigned>> failures_;
    std::map<Key, size_t> clientWrites_;
    mutable std::map<std::pair<AudioObjectID, uint32_t>, size_t> getCalls_;
    std::mutex observerMutex_;
    std::vector<std::shared_ptr<Observer>> observers_;
    std::unique_ptr<SimAudioEngine> audio_;
};

} // namespace orevant
