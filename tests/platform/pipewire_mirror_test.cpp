// The PipeWire mirror's view of the graph, over property sets written from PipeWire's keys:
// what a desktop with ALSA cards, Bluetooth and PulseAudio clients shows, which CI cannot run.
#include "platform/pipewire/pipewire_mirror.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orevant;

namespace {
struct Graph {
    PipeWireMirror mirror;
    uint32_t nextID = 10;

    uint32_t node(PropertyMap props, const std::string& state = "running") {
        const uint32_t id = nextID++;
        PipeWireNode n;
        n.id = id;
        n.serial = id + 1000;
        n.props = std::move(props);
        n.state = state;
        mirror.nodes[id] = n;
        return id;
    }
    void ports(uint32_t node, bool output, int count, bool monitor = false) {
        static const char* names[] = {"FL", "FR", "RL", "RR", "FC", "LFE", "SL", "SR"};
        // Global ids out of channel order, as the daemon hands them out.
        for (int i = count - 1; i >= 0; --i) {
            const uint32_t id = nextID++;
            mirror.ports[id] = PipeWirePort{id, node, static_cast<uint32_t>(i), output, monitor, names[i % 8]};
        }
    }
    uint32_t client(PropertyMap props) {
        const uint32_t id = nextID++;
        mirror.clients[id] = PipeWireClient{id, std::move(props)};
        return id;
    }
    SeamState seam() { return mirror.seamState(); }
};

std::vector<AudioObjectID> ids(const SeamState& s, uint32_t selector) {
    const auto* p = s.find(kAudioObjectSystemObject, selector, scope::global);
    const auto& bytes = std::get<std::vector<uint8_t>>(p->value);
    std::vector<AudioObjectID> out(bytes.size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

std::string text(const SeamState& s, AudioObjectID object, uint32_t selector) {
    const auto* p = s.find(object, selector, scope::global);
    return p ? std::get<std::string>(p->value) : "<none>";
}

template <typename T>
T value(const SeamState& s, AudioObjectID object, uint32_t selector, uint32_t sc = scope::global) {
    T out{};
    EXPECT_TRUE(s.read(object, selector, sc, out)) << fourccText(selector);
    return out;
}
} // namespace

TEST(PipeWireMirrorTest, DevicesAreSinkAndSourceNodesWithTheirPortsNamedAndVolumedAsDesktopsShowThem) {
    Graph g;
    const uint32_t card = 5;
    const PipeWireRoute route{7, 3, true, true, {0.125f, 0.125f}, false}; // index 7, card.profile.device 3
    g.mirror.devices[card] = PipeWireDevice{card, {{"device.api", "alsa"}, {"device.bus", "usb"}}, {route}};
    const uint32_t usb = g.node({{"media.class", "Audio/Sink"},
                                 {"node.name", "alsa_output.usb-DAC"},
                                 {"node.description", "USB DAC"},
                                 {"device.id", "5"},
                                 {"card.profile.device", "3"}});
    g.ports(usb, false, 2);
    g.ports(usb, true, 2, /*monitor=*/true);
    g.mirror.devices[6] =
        PipeWireDevice{6, {{"device.api", "bluez5"}, {"api.bluez5.address", "AA:BB:CC:DD:EE:FF"}}, {}};
    const uint32_t headset = g.node({{"media.class", "Audio/Sink"},
                                     {"node.name", "bluez_output.AA_BB_CC_DD_EE_FF.1"},
                                     {"node.description", "Headset"},
                                     {"device.id", "6"}});
    g.ports(headset, false, 2);
    g.mirror.nodes[headset].hasVolume = true;
    g.mirror.nodes[headset].volumes = {0.216f, 0.216f};
    g.mirror.nodes[headset].mute = true;
    const uint32_t mic = g.node({{"media.class", "Audio/Source"}, {"node.name", "mic"}, {"node.nick", "Mic"}});
    g.ports(mic, true, 1);
    // Not devices: a sink without ports yet, our own private tap sink, an application stream.
    g.node({{"media.class", "Audio/Sink"}, {"node.name", "not-ready"}});
    const uint32_t tapSink = g.node({{"media.class", "Audio/Sink/Internal"}, {"node.name", "orevant.tap.x.in"}});
    g.ports(tapSink, false, 2);
    g.node({{"media.class", "Stream/Output/Audio"}, {"node.name", "firefox"}});
    g.mirror.defaultSink = "bluez_output.AA_BB_CC_DD_EE_FF.1";

    const SeamState s = g.seam();
    const auto devices = ids(s, sel::deviceList);
    ASSERT_EQ(devices.size(), 3u);
    const AudioObjectID dac = devices[0], bt = devices[1], input = devices[2];
    EXPECT_EQ(text(s, dac, sel::deviceUID), "alsa_output.usb-DAC");
    EXPECT_EQ(text(s, dac, sel::name), "USB DAC");
    EXPECT_EQ(value<uint32_t>(s, dac, sel::transportType), transport::usb);
    // The card route's volume, as the desktop's mixer shows it: 0.125 linear is 0.5.
    EXPECT_NEAR(value<float>(s, dac, sel::virtualMainVolume, scope::output), 0.5f, 1e-6f);

    // Bluetooth devices go by their address, so a paired device finds its audio device.
    EXPECT_EQ(text(s, bt, sel::deviceUID), "AA:BB:CC:DD:EE:FF:output");
    EXPECT_EQ(value<uint32_t>(s, bt, sel::transportType), transport::bluetooth);
    EXPECT_NEAR(value<float>(s, bt, sel::virtualMainVolume, scope::output), 0.6f, 1e-5f);
    EXPECT_EQ(value<uint32_t>(s, bt, sel::mute, scope::output), 1u);
    EXPECT_EQ(value<AudioObjectID>(s, kAudioObjectSystemObject, sel::defaultOutputDevice), bt);

    EXPECT_EQ(text(s, input, sel::name), "Mic");
    EXPECT_EQ(value<uint32_t>(s, input, sel::transportType), transport::virtualDevice);
    EXPECT_FALSE(s.find(input, sel::virtualMainVolume, scope::input)); // no volume reported yet

    // IDs stay with their objects, and a vanished object's ID is never handed out again.
    g.mirror.nodes.erase(usb);
    const SeamState after = g.seam();
    EXPECT_EQ(ids(after, sel::deviceList), (std::vector<AudioObjectID>{bt, input}));
    const uint32_t again = g.node({{"media.class", "Audio/Sink"}, {"node.name", "alsa_output.usb-DAC"}});
    g.ports(again, false, 2);
    const auto replugged = ids(g.seam(), sel::deviceList);
    EXPECT_EQ(replugged.size(), 3u);
    EXPECT_GT(replugged.back(), input);
}

TEST(PipeWireMirrorTest, ProcessesAreConnectedApplicationsWhetherNativeOrPulseAudio) {
    Graph g;
    g.mirror.ownPID = 1;
    g.client({{"application.process.binary", "wireplumber"}, {"application.process.id", "50"}});
    g.client({{"application.process.binary", "pipewire"}, {"application.process.id", "60"}}); // pipewire-pulse
    const uint32_t native = g.client(
        {{"application.process.id", "300"}, {"application.id", "org.example.Tone"}, {"pipewire.sec.pid", "300"}});
    const uint32_t pulse =
        g.client({{"application.process.id", "400"}, {"client.api", "pipewire-pulse"}, {"pipewire.sec.pid", "60"}});
    g.client({{"application.process.id", "1"}}); // ourselves
    g.client({{"pipewire.sec.pid", "500"}});     // a tool that never plays
    // A sandboxed client counts its pid in the sandbox; the host knows it by the socket's peer.
    g.client({{"application.process.id", "2"}, {"pipewire.sec.pid", "600"}, {"pipewire.access", "flatpak"}});
    g.node({{"media.class", "Stream/Output/Audio"}, {"client.id", std::to_string(native)}}, "running");
    g.node({{"media.class", "Stream/Input/Audio"},
            {"client.id", std::to_string(pulse)},
            {"application.process.id", "400"},
            {"application.id", "org.example.Recorder"}},
           "running");
    g.node({{"media.class", "Stream/Output/Audio"}, {"client.id", std::to_string(pulse)}}, "idle");

    const SeamState s = g.seam();
    const auto processes = ids(s, sel::processObjectList);
    ASSERT_EQ(processes.size(), 4u);
    std::map<int32_t, AudioObjectID> byPID;
    for (AudioObjectID p : processes) byPID[value<int32_t>(s, p, sel::processPID)] = p;
    ASSERT_TRUE(byPID.count(300) && byPID.count(400) && byPID.count(500) && byPID.count(600));
    EXPECT_EQ(value<uint32_t>(s, byPID[300], sel::processIsRunningOutput), 1u);
    EXPECT_EQ(text(s, byPID[300], sel::processBundleID), "org.example.Tone");
    EXPECT_EQ(value<uint32_t>(s, byPID[400], sel::processIsRunningOutput), 0u);
    EXPECT_EQ(value<uint32_t>(s, byPID[400], sel::processIsRunningInput), 1u);
    EXPECT_EQ(text(s, byPID[400], sel::processBundleID), "org.example.Recorder");
    EXPECT_FALSE(s.find(byPID[500], sel::processBundleID, scope::global));
    EXPECT_EQ(g.mirror.pidOfProcess(byPID[400]), 400);
}
