#include "audio/hal.h"

namespace orevant {

std::vector<AudioObjectID> HAL::readIDs(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    const PropertyAddress address{selector, scope, 0};
    uint32_t size = 0;
    if (OSStatus s = server_.getPropertyDataSize(object, address, size)) throw HALError::osStatus(s, selector);
    if (size < sizeof(AudioObjectID)) return {};
    std::vector<AudioObjectID> ids(size / sizeof(AudioObjectID));
    uint32_t ioSize = static_cast<uint32_t>(ids.size() * sizeof(AudioObjectID));
    if (OSStatus s = server_.getPropertyData(object, address, ioSize, ids.data()))
        throw HALError::osStatus(s, selector);
    ids.resize(ioSize / sizeof(AudioObjectID));
    return ids;
}

std::string HAL::readString(AudioObjectID object, uint32_t selector) const {
    std::string out;
    if (OSStatus s = server_.getPropertyString(object, PropertyAddress{selector, scope::global, 0}, out))
        throw HALError::osStatus(s, selector);
    return out;
}

std::vector<std::string> HAL::readStringList(AudioObjectID object, uint32_t selector) const {
    std::vector<std::string> out;
    if (OSStatus s = server_.getPropertyStringList(object, PropertyAddress{selector, scope::global, 0}, out))
        throw HALError::osStatus(s, selector);
    return out;
}

void HAL::write4(AudioObjectID object, uint32_t selector, uint32_t scope, const void* value) const {
    if (OSStatus s = server_.setPropertyData(object, PropertyAddress{selector, scope, 0}, 4, value))
        throw HALError::osStatus(s, selector);
}

void HAL::write(AudioObjectID object, uint32_t selector, uint32_t scope, uint32_t value) const {
    write4(object, selector, scope, &value);
}

void HAL::write(AudioObjectID object, uint32_t selector, uint32_t scope, float value) const {
    write4(object, selector, scope, &value);
}

bool HAL::isSettable(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    bool settable = false;
    if (server_.isPropertySettable(object, PropertyAddress{selector, scope, 0}, settable) != 0) return false;
    return settable;
}

} // namespace orevant
