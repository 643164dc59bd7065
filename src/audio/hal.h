#pragma once
// Typed access to audio-server properties. No state, no caching: every call goes to the server.
// A non-zero status throws HALError::osStatus with that status and the selector.
// Any thread except an IO thread.
#include "audio/hal_error.h"
#include "platform/audio_server.h"

#include <string>
#include <type_traits>
#include <vector>

namespace orevant {

class HAL {
public:
    explicit HAL(AudioServer& server) : server_(server) {}

    // Fixed-size reads: 4 bytes (flags, counts, Float32, Int32), 8 bytes (Float64) and 40 bytes
    // (a stream description).
    template <typename T>
    T read(AudioObjectID object, uint32_t selector, uint32_t scope = scope::global) const {
        static_assert(std::is_trivially_copyable_v<T> && (sizeof(T) == 4 || sizeof(T) == 8 || sizeof(T) == 40));
        T value{};
        uint32_t size = sizeof(T);
        const PropertyAddress address{selector, scope, 0};
        if (OSStatus s = server_.getPropertyData(object, address, size, &value)) throw HALError::osStatus(s, selector);
        return value;
    }

    std::vector<AudioObjectID> readIDs(AudioObjectID object, uint32_t selector, uint32_t scope = scope::global) const;
    std::string readString(AudioObjectID object, uint32_t selector) const;
    std::vector<std::string> readStringList(AudioObjectID object, uint32_t selector) const;

    void write(AudioObjectID object, uint32_t selector, uint32_t scope, uint32_t value) const;
    void write(AudioObjectID object, uint32_t selector, uint32_t scope, float value) const;

    // True only when the query succeeds and reports the property settable.
    bool isSettable(AudioObjectID object, uint32_t selector, uint32_t scope = scope::global) const;

    AudioServer& server() const { return server_; }

private:
    void write4(AudioObjectID object, uint32_t selector, uint32_t scope, const void* value) const;

    AudioServer& server_;
};

} // namespace orevant
