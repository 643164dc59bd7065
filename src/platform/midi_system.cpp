#include "platform/midi_system.h"

#include <algorithm>

namespace orevant {
namespace {

uint32_t packWord(uint8_t messageType, uint8_t group, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t(messageType & 0xF) << 28) | (uint32_t(group & 0xF) << 24) | (uint32_t(b1) << 16) |
           (uint32_t(b2) << 8) | uint32_t(b3);
}

void appendSysEx(std::vector<uint32_t>& out, uint8_t group, const std::vector<uint8_t>& data) {
    size_t offset = 0;
    bool first = true;
    do {
        size_t n = std::min<size_t>(6, data.size() - offset);
        bool last = offset + n == data.size();
        uint8_t form = first && last ? 0 : first ? 1 : last ? 3 : 2;
        uint8_t b[6] = {};
        for (size_t i = 0; i < n; ++i) b[i] = data[offset + i];
        out.push_back(packWord(3, group, uint8_t((form << 4) | n), b[0], b[1]));
        out.push_back((uint32_t(b[2]) << 24) | (uint32_t(b[3]) << 16) | (uint32_t(b[4]) << 8) | b[5]);
        offset += n;
        first = false;
    } while (offset < data.size());
}

size_t dataBytesFor(uint8_t status) {
    if (status < 0xF0) return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0;
    }
}

} // namespace

std::vector<uint32_t> midi1BytesToUniversalPackets(std::span<const uint8_t> bytes, uint8_t group) {
    std::vector<uint32_t> out;
    uint8_t running = 0; // status awaiting data bytes (channel status stays for running status)
    uint8_t data[2] = {};
    size_t have = 0;
    bool inSysEx = false;
    std::vector<uint8_t> sysEx;

    auto endSysEx = [&] {
        appendSysEx(out, group, sysEx);
        sysEx.clear();
        inSysEx = false;
    };

    for (uint8_t byte : bytes) {
        if (byte >= 0xF8) { // real-time: may appear anywhere, touches no other state
            if (byte != 0xF9 && byte != 0xFD) out.push_back(packWord(1, group, byte, 0, 0));
            continue;
        }
        if (byte & 0x80) {
            if (inSysEx) endSysEx(); // F7, or any status byte, ends a system exclusive message
            if (byte == 0xF7) continue;
            have = 0;
            if (byte == 0xF0) {
                inSysEx = true;
                running = 0;
            } else if (byte == 0xF6) {
                out.push_back(packWord(1, group, byte, 0, 0));
                running = 0;
            } else if (byte == 0xF4 || byte == 0xF5) {
                running = 0; // undefined system common
            } else {
                running = byte;
            }
            continue;
        }
        if (inSysEx) {
            sysEx.push_back(byte);
            continue;
        }
        if (running == 0) continue; // stray data byte
        data[have++] = byte;
        if (have < dataBytesFor(running)) continue;
        uint8_t d2 = dataBytesFor(running) == 2 ? data[1] : 0;
        out.push_back(packWord(running < 0xF0 ? 2 : 1, group, running, data[0], d2));
        have = 0;
        if (running >= 0xF0) running = 0; // system common cancels running status
    }
    return out;
}

} // namespace orevant
