#pragma once
// The audio server's vocabulary: object IDs, property addresses, statuses, selectors, stream
// descriptions and buffer lists. Plain data, usable on any thread.
#include "platform/four_char_code.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace orevant {

using AudioObjectID = uint32_t;
using OSStatus = int32_t;

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

struct PropertyAddress {
    uint32_t selector = 0;
    uint32_t scope = 0;
    uint32_t element = 0;
    bool operator==(const PropertyAddress&) const = default;
};

namespace scope {
inline constexpr uint32_t global = fourcc("glob");
inline constexpr uint32_t output = fourcc("outp");
inline constexpr uint32_t input = fourcc("inpt");
} // namespace scope

// Selectors the system uses, written as their text.
namespace sel {
inline constexpr uint32_t processObjectList = fourcc("prs#");
inline constexpr uint32_t deviceList = fourcc("dev#");
inline constexpr uint32_t defaultOutputDevice = fourcc("dOut");
inline constexpr uint32_t defaultInputDevice = fourcc("dIn ");
inline constexpr uint32_t processPID = fourcc("ppid");
inline constexpr uint32_t processIsRunningOutput = fourcc("piro");
inline constexpr uint32_t processIsRunningInput = fourcc("piri");
// Process bundle ID (a string), where the server knows one (for example the application ID a
// client declared); absent otherwise.
inline constexpr uint32_t processBundleID = fourcc("pbid");
inline constexpr uint32_t virtualMainVolume = fourcc("vmvc");
inline constexpr uint32_t mute = fourcc("mute");
inline constexpr uint32_t name = fourcc("lnam");
inline constexpr uint32_t deviceUID = fourcc("uid ");
inline constexpr uint32_t nominalSampleRate = fourcc("nsrt");
inline constexpr uint32_t streamFormat = fourcc("sfmt");
inline constexpr uint32_t deviceIsAlive = fourcc("livn");
inline constexpr uint32_t deviceIsRunningSomewhere = fourcc("gone");
inline constexpr uint32_t aggregateFullSubDeviceList = fourcc("grup");
inline constexpr uint32_t transportType = fourcc("tran");
inline constexpr uint32_t dataSource = fourcc("ssrc");
// Stream configuration: the data is a uint32 stream count followed by one uint32 channel
// count per stream.
inline constexpr uint32_t streamConfiguration = fourcc("slay");
} // namespace sel

namespace transport {
inline constexpr uint32_t builtIn = fourcc("bltn");
inline constexpr uint32_t usb = fourcc("usb ");
inline constexpr uint32_t bluetooth = fourcc("blue");
inline constexpr uint32_t bluetoothLE = fourcc("blea");
inline constexpr uint32_t aggregate = fourcc("grup");
inline constexpr uint32_t virtualDevice = fourcc("virt");
} // namespace transport

// Status codes the simulated server returns; the logic treats any non-zero status alike.
namespace status {
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus unknownProperty = static_cast<OSStatus>(fourcc("who?"));
inline constexpr OSStatus badObject = static_cast<OSStatus>(fourcc("!obj"));
inline constexpr OSStatus badPropertySize = static_cast<OSStatus>(fourcc("!siz"));
inline constexpr OSStatus illegalOperation = static_cast<OSStatus>(fourcc("nope"));
inline constexpr OSStatus unspecified = static_cast<OSStatus>(fourcc("what"));
inline constexpr OSStatus permissionDenied = static_cast<OSStatus>(fourcc("!pri"));
} // namespace status

// 40 bytes, as the server stores a stream description.
struct AudioStreamBasicDescription {
    double sampleRate = 0;
    uint32_t formatID = 0;
    uint32_t formatFlags = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;
    uint32_t reserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

inline constexpr uint32_t kAudioFormatLinearPCM = fourcc("lpcm");
inline constexpr uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr uint32_t kAudioFormatFlagIsPacked = 1u << 3;

// Packed interleaved 32-bit float PCM: what every device of both servers plays.
inline AudioStreamBasicDescription floatStreamFormat(double rate, uint32_t channels) {
    AudioStreamBasicDescription f;
    f.sampleRate = rate;
    f.formatID = kAudioFormatLinearPCM;
    f.formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    f.bytesPerFrame = 4 * channels;
    f.bytesPerPacket = f.bytesPerFrame;
    f.framesPerPacket = 1;
    f.channelsPerFrame = channels;
    f.bitsPerChannel = 32;
    return f;
}

// The bytes of a stream configuration ("slay"): the stream count, then each stream's channels.
inline std::vector<uint8_t> streamConfigurationBytes(const std::vector<uint32_t>& streamChannels) {
    std::vector<uint32_t> words{static_cast<uint32_t>(streamChannels.size())};
    words.insert(words.end(), streamChannels.begin(), streamChannels.end());
    std::vector<uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}
// One stream of `channels` channels, or no stream when `channels` is 0.
inline std::vector<uint8_t> singleStreamConfigurationBytes(uint32_t channels) {
    return streamConfigurationBytes(channels ? std::vector<uint32_t>{channels} : std::vector<uint32_t>{});
}

// Interleaved buffers handed to an IO procedure.
struct AudioBuffer {
    uint32_t numberChannels = 0;
    uint32_t dataByteSize = 0;
    void* data = nullptr;
};

struct AudioBufferList {
    uint32_t numberBuffers = 0;
    AudioBuffer* buffers = nullptr;
};

} // namespace orevant
