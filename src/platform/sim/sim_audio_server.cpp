#include "platform/sim/sim_audio_server.h"

#include "platform/sim/sim_audio_engine.h"

#include <algorithm>
#include <utility>

namespace orevant {

SimAudioServer::SimAudioServer(MainQueue& mainQueue) : mainQueue_(mainQueue), listeners_(mainQueue) {
    objects_[kAudioObjectSystemObject] = Object{simclass::system, {}};
    audio_ = std::make_unique<SimAudioEngine>(*this);
}

SimAudioServer::~SimAudioServer() { audio_.reset(); }

const SimAudioServer::Property* SimAudioServer::find(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    auto obj = objects_.find(object);
    if (obj == objects_.end()) return nullptr;
    auto it = obj->second.properties.find({selector, scope});
    if (it == obj->second.properties.end() && scope != scope::global)
        it = obj->second.properties.find({selector, scope::global});
    return it == obj->second.properties.end() ? nullptr : &it->second;
}

SimAudioServer::Property* SimAudioServer::find(AudioObjectID object, uint32_t selector, uint32_t scope) {
    return const_cast<Property*>(std::as_const(*this).find(object, selector, scope));
}

std::optional<OSStatus> SimAudioServer::injected(AudioObjectID object, uint32_t selector, Op op) const {
    auto it = failures_.find({object, selector});
    if (it == failures_.end() || !(it->second.second & op)) return std::nullopt;
    return it->second.first;
}

namespace {
uint32_t byteSize(const std::variant<std::vector<uint8_t>, std::string, std::vector<std::string>>& v) {
    if (auto b = std::get_if<std::vector<uint8_t>>(&v)) return static_cast<uint32_t>(b->size());
    if (std::holds_alternative<std::string>(v)) return 8; // a string reference
    return static_cast<uint32_t>(8 * std::get<std::vector<std::string>>(v).size());
}
} // namespace

OSStatus SimAudioServer::reach(AudioObjectID object, const PropertyAddress& address, Op op,
                               const Property*& found) const {
    if (auto s = injected(object, address.selector, op)) return *s;
    if (!objects_.count(object)) return status::badObject;
    found = find(object, address.selector, address.scope);
    return found ? status::noErr : status::unknownProperty;
}

template <typename T>
OSStatus SimAudioServer::readAs(AudioObjectID object, const PropertyAddress& address, Op op, const T*& value) const {
    ++getCalls_[{object, address.selector}];
    const Property* p = nullptr;
    if (OSStatus s = reach(object, address, op, p)) return s;
    value = std::get_if<T>(&p->value);
    // A value of another kind (bytes, a string, a string list) is read through its own call.
    return value ? status::noErr : status::badPropertySize;
}

OSStatus SimAudioServer::getPropertyDataSize(AudioObjectID object, const PropertyAddress& address, uint32_t& size) {
    std::lock_guard lock(mutex_);
    ++getCalls_[{object, address.selector}];
    const Property* p = nullptr;
    if (OSStatus s = reach(object, address, opGetSize, p)) return s;
    size = byteSize(p->value);
    return status::noErr;
}

OSStatus SimAudioServer::getPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t& size,
                                         void* data) {
    std::lock_guard lock(mutex_);
    const std::vector<uint8_t>* b = nullptr;
    if (OSStatus s = readAs(object, address, opGet, b)) return s;
    if (size < b->size() && size % 4 != 0) return status::badPropertySize;
    const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(b->size()));
    if (n > 0) std::memcpy(data, b->data(), n);
    size = n;
    return status::noErr;
}

OSStatus SimAudioServer::getPropertyString(AudioObjectID object, const PropertyAddress& address, std::string& out) {
    std::lock_guard lock(mutex_);
    const std::string* text = nullptr;
    if (OSStatus s = readAs(object, address, opGet, text)) return s;
    out = *text;
    return status::noErr;
}

OSStatus SimAudioServer::getPropertyStringList(AudioObjectID object, const PropertyAddress& address,
                                               std::vector<std::string>& out) {
    std::lock_guard lock(mutex_);
    const std::vector<std::string>* list = nullptr;
    if (OSStatus s = readAs(object, address, opGet, list)) return s;
    out = *list;
    return status::noErr;
}

OSStatus SimAudioServer::setPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t size,
                                         const void* data) {
    uint32_t storedScope = address.scope;
    {
        std::lock_guard lock(mutex_);
        const Property* p = nullptr;
        if (OSStatus s = reach(object, address, opSet, p)) return s;
        if (!p->settable) return status::illegalOperation;
        const auto* b = std::get_if<std::vector<uint8_t>>(&p->value);
        if (!b || b->size() != size) return status::badPropertySize;
        ++clientWrites_[{object, address.selector, address.scope}];
        // Store under the scope the property lives in, so a write through a scoped address of
        // a global property changes the one value.
        if (!objects_[object].properties.count({address.selector, address.scope})) storedScope = scope::global;
    }
    std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    store(object, address.selector, storedScope, std::move(bytes), true);
    return status::noErr;
}

OSStatus SimAudioServer::isPropertySettable(AudioObjectID object, const PropertyAddress& address, bool& settable) {
    std::lock_guard lock(mutex_);
    const Property* p = nullptr;
    if (OSStatus s = reach(object, address, opSettable, p)) return s;
    settable = p->settable;
    return status::noErr;
}

OSStatus SimAudioServer::addPropertyListener(AudioObjectID object, const PropertyAddress& address,
                                             PropertyListenerBlock block, ListenerID& outID) {
    if (!exists(object)) return status::badObject;
    outID = listeners_.add(object, address, std::move(block));
    return status::noErr;
}

OSStatus SimAudioServer::removePropertyListener(AudioObjectID object, const PropertyAddress& address, ListenerID id) {
    return listeners_.remove(object, address, id) ? status::noErr : status::illegalOperation;
}

void SimAudioServer::notify(AudioObjectID object, uint32_t selector, uint32_t scope) {
    listeners_.notify(object, selector, scope);
}

AudioObjectID SimAudioServer::createObject(uint32_t classID) {
    AudioObjectID id;
    {
        std::lock_guard lock(mutex_);
        id = nextObjectID_++;
        objects_[id] = Object{classID, {}};
    }
    emit(Event::created, id, PropertyAddress{});
    return id;
}

void SimAudioServer::destroyObject(AudioObjectID object) {
    {
        std::lock_guard lock(mutex_);
        if (object == kAudioObjectSystemObject || !objects_.erase(object)) return;
    }
    emit(Event::destroyed, object, PropertyAddress{});
}

bool SimAudioServer::exists(AudioObjectID object) const {
    std::lock_guard lock(mutex_);
    return objects_.count(object) > 0;
}

uint32_t SimAudioServer::objectClass(AudioObjectID object) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    return it == objects_.end() ? 0 : it->second.classID;
}

std::vector<AudioObjectID> SimAudioServer::objectsOfClass(uint32_t classID) const {
    std::lock_guard lock(mutex_);
    std::vector<AudioObjectID> out;
    for (const auto& [id, obj] : objects_)
        if (obj.classID == classID) out.push_back(id);
    return out;
}

void SimAudioServer::store(AudioObjectID object, uint32_t selector, uint32_t scope, Value value, bool doNotify) {
    {
        std::lock_guard lock(mutex_);
        auto obj = objects_.find(object);
        if (obj == objects_.end()) return;
        auto& prop = obj->second.properties[{selector, scope}];
        prop.value = std::move(value);
    }
    emit(Event::propertyChanged, object, PropertyAddress{selector, scope, 0});
    if (doNotify) notify(object, selector, scope);
}

void SimAudioServer::setBytes(AudioObjectID object, uint32_t selector, uint32_t scope, std::vector<uint8_t> bytes,
                              bool doNotify) {
    store(object, selector, scope, std::move(bytes), doNotify);
}

void SimAudioServer::setString(AudioObjectID object, uint32_t selector, uint32_t scope, std::string value,
                               bool doNotify) {
    store(object, selector, scope, std::move(value), doNotify);
}

void SimAudioServer::setStringList(AudioObjectID object, uint32_t selector, uint32_t scope,
                                   std::vector<std::string> value, bool doNotify) {
    store(object, selector, scope, std::move(value), doNotify);
}

void SimAudioServer::setIDs(AudioObjectID object, uint32_t selector, uint32_t scope,
                            const std::vector<AudioObjectID>& ids, bool doNotify) {
    std::vector<uint8_t> bytes(ids.size() * sizeof(AudioObjectID));
    if (!ids.empty()) std::memcpy(bytes.data(), ids.data(), bytes.size());
    store(object, selector, scope, std::move(bytes), doNotify);
}

void SimAudioServer::appendID(AudioObjectID object, uint32_t selector, uint32_t scope, AudioObjectID id) {
    auto list = ids(object, selector, scope);
    list.push_back(id);
    setIDs(object, selector, scope, list);
}

void SimAudioServer::removeID(AudioObjectID object, uint32_t selector, uint32_t scope, AudioObjectID id) {
    auto list = ids(object, selector, scope);
    list.erase(std::remove(list.begin(), list.end(), id), list.end());
    setIDs(object, selector, scope, list);
}

void SimAudioServer::setSettable(AudioObjectID object, uint32_t selector, uint32_t scope, bool settable) {
    std::lock_guard lock(mutex_);
    auto obj = objects_.find(object);
    if (obj == objects_.end()) return;
    auto it = obj->second.properties.find({selector, scope});
    if (it != obj->second.properties.end()) it->second.settable = settable;
}

void SimAudioServer::removeProperty(AudioObjectID object, uint32_t selector, uint32_t scope, bool doNotify) {
    {
        std::lock_guard lock(mutex_);
        auto obj = objects_.find(object);
        if (obj == objects_.end()) return;
        obj->second.properties.erase({selector, scope});
    }
    emit(Event::propertyChanged, object, PropertyAddress{selector, scope, 0});
    if (doNotify) notify(object, selector, scope);
}

bool SimAudioServer::hasProperty(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    std::lock_guard lock(mutex_);
    return find(object, selector, scope) != nullptr;
}

std::optional<std::vector<uint8_t>> SimAudioServer::bytes(AudioObjectID object, uint32_t selector,
                                                          uint32_t scope) const {
    std::lock_guard lock(mutex_);
    const Property* p = find(object, selector, scope);
    if (!p) return std::nullopt;
    if (auto b = std::get_if<std::vector<uint8_t>>(&p->value)) return *b;
    return std::nullopt;
}

std::optional<std::string> SimAudioServer::string(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    std::lock_guard lock(mutex_);
    const Property* p = find(object, selector, scope);
    if (!p) return std::nullopt;
    if (auto s = std::get_if<std::string>(&p->value)) return *s;
    return std::nullopt;
}

std::optional<std::vector<std::string>> SimAudioServer::stringList(AudioObjectID object, uint32_t selector,
                                                                   uint32_t scope) const {
    std::lock_guard lock(mutex_);
    const Property* p = find(object, selector, scope);
    if (!p) return std::nullopt;
    if (auto s = std::get_if<std::vector<std::string>>(&p->value)) return *s;
    return std::nullopt;
}

std::vector<AudioObjectID> SimAudioServer::ids(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    auto b = bytes(object, selector, scope);
    std::vector<AudioObjectID> out;
    if (!b) return out;
    out.resize(b->size() / sizeof(AudioObjectID));
    if (!out.empty()) std::memcpy(out.data(), b->data(), out.size() * sizeof(AudioObjectID));
    return out;
}

void SimAudioServer::injectFailure(AudioObjectID object, uint32_t selector, OSStatus status, unsigned ops) {
    std::lock_guard lock(mutex_);
    failures_[{object, selector}] = {status, ops};
}

void SimAudioServer::clearFailure(AudioObjectID object, uint32_t selector) {
    std::lock_guard lock(mutex_);
    failures_.erase({object, selector});
}

void SimAudioServer::clearAllFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

void SimAudioServer::addObserver(Observer observer) {
    std::lock_guard lock(observerMutex_);
    observers_.push_back(std::make_shared<Observer>(std::move(observer)));
}

void SimAudioServer::emit(Event event, AudioObjectID object, const PropertyAddress& address) {
    std::vector<std::shared_ptr<Observer>> copy;
    {
        std::lock_guard lock(observerMutex_);
        copy = observers_;
    }
    for (auto& o : copy) (*o)(event, object, address);
}

size_t SimAudioServer::clientWriteCount(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    std::lock_guard lock(mutex_);
    auto it = clientWrites_.find({object, selector, scope});
    return it == clientWrites_.end() ? 0 : it->second;
}

size_t SimAudioServer::listenerCount(AudioObjectID object, uint32_t selector) const {
    return listeners_.count(object, selector);
}

size_t SimAudioServer::getCallCount(AudioObjectID object, uint32_t selector) const {
    std::lock_guard lock(mutex_);
    auto it = getCalls_.find({object, selector});
    return it == getCalls_.end() ? 0 : it->second;
}

// Taps, aggregates and IO are the audio engine's.
OSStatus SimAudioServer::createProcessTap(const TapDescription& d, AudioObjectID& out) {
    return audio_->createProcessTap(d, out);
}
OSStatus SimAudioServer::destroyProcessTap(AudioObjectID tap) { return audio_->destroyProcessTap(tap); }
OSStatus SimAudioServer::createAggregateDevice(const AggregateDescription& d, AudioObjectID& out) {
    return audio_->createAggregateDevice(d, out);
}
OSStatus SimAudioServer::destroyAggregateDevice(AudioObjectID device) { return audio_->destroyAggregateDevice(device); }
OSStatus SimAudioServer::createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& out) {
    return audio_->createIOProc(device, std::move(block), out);
}
OSStatus SimAudioServer::destroyIOProc(AudioObjectID device, IOProcID id) { return audio_->destroyIOProc(device, id); }
OSStatus SimAudioServer::startDevice(AudioObjectID device, IOProcID id) { return audio_->startDevice(device, id); }
OSStatus SimAudioServer::stopDevice(AudioObjectID device, IOProcID id) { return audio_->stopDevice(device, id); }

} // namespace orevant
