#include "platform/sim/sim_audio_engine.h"

#include "platform/logger.h"
#include "platform/regular_file.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_output_history.h"

#include <fcntl.h>
#include <pthread.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <numbers>
#include <set>
#include <thread>

namespace orevant {

namespace {

constexpr uint32_t kFrames = SimAudioEngine::kCycleFrames;
constexpr double kDefaultRate = 48000.0;

// The whole file in memory as interleaved floats, played in a loop.
struct WavData {
    std::vector<float> samples;
    int channels = 0;
};

// A WAV source larger than this is refused: it is held in memory whole.
constexpr size_t kMaxWavSourceBytes = 256 * 1024 * 1024;

std::shared_ptr<const WavData> loadWav(const std::string& path) {
    // Only a regular file: a FIFO would block the caller for ever, a device would never end.
    std::string reason;
    const int fd = openRegularFile(path, kMaxWavSourceBytes, reason);
    if (fd < 0) return nullptr;
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!file) return nullptr;
    auto data = std::make_shared<WavData>();
    data->channels = info.channels;
    if (info.channels > 0 && info.frames > 0) {
        data->samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
        const sf_count_t got = sf_readf_float(file, data->samples.data(), info.frames);
        data->samples.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0)) * static_cast<size_t>(info.channels));
    }
    sf_close(file);
    if (data->samples.empty()) return nullptr;
    return data;
}

// Runs one IO procedure call at a time on a thread of its own; the cycle driver hands it the
// call and waits for it to finish.
class IOThread {
public:
    IOThread() : thread_([this] { loop(); }) {}
    ~IOThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    void call(const IOProcBlock& block, const AudioBufferList& input, AudioBufferList& output) {
        std::unique_lock lock(mutex_);
        block_ = &block;
        input_ = &input;
        output_ = &output;
        cv_.notify_all();
        cv_.wait(lock, [this] { return block_ == nullptr; });
    }

private:
    void loop() {
        pthread_setname_np(pthread_self(), "sim-io"); // the server's thread, not the agent's
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return quit_ || block_ != nullptr; });
            if (quit_) return;
            (*block_)(*input_, *output_);
            block_ = nullptr;
            cv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    const IOProcBlock* block_ = nullptr;
    const AudioBufferList* input_ = nullptr;
    AudioBufferList* output_ = nullptr;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace

struct SimAudioEngine::Impl {
    struct Process {
        SimAudioSource source;
        std::shared_ptr<const WavData> wav;
        bool playing = false;
        double phase = 0.0;    // sine, in cycles
        uint64_t wavFrame = 0; // next frame of the looped file
        uint32_t noiseState = 0x9E3779B9u;
        std::vector<float> block = std::vector<float>(kFrames * 2); // stereo, this cycle
        bool rendered = false;
    };

    struct Tap {
        TapDescription description;
    };

    struct Proc {
        IOProcBlock block;
        bool running = false;
    };

    struct Aggregate {
        AggregateDescription description;
        std::vector<AudioObjectID> subDevices; // resolved at creation; missing UIDs are left out
        std::map<IOProcID, Proc> procs;
        std::unique_ptr<IOThread> io;
        // Buffers of the cycle, kept for the aggregate's life.
        std::vector<std::vector<float>> inData, outData;
        std::vector<AudioBuffer> inBuffers, outBuffers;
        std::vector<AudioObjectID> outDevices; // device of each output buffer
        bool isRunning() const {
            return std::any_of(procs.begin(), procs.end(), [](const auto& p) { return p.second.running; });
        }
    };

    struct Device {
        uint32_t channels = 0;
        double rate = kDefaultRate;
        std::vector<float> cycle; // this cycle's mix, interleaved
        SimOutputHistory history;
        SNDFILE* file = nullptr;
    };

    explicit Impl(SimAudioServer& s) : server(s) {}

    SimAudioServer& server;
    Logger log{"SimAudioEngine"};

    // Lock order: cycleMutex, then mutex, then the server's own lock (reads only). Nothing that
    // changes a server object (and so runs its observers) is called while `mutex` is held.
    std::mutex cycleMutex;
    mutable std::mutex mutex;
    std::map<AudioObjectID, Process> processes;
    std::map<AudioObjectID, Tap> taps;
    std::map<AudioObjectID, Aggregate> aggregates;
    std::map<AudioObjectID, Device> devices;
    std::map<Call, std::pair<OSStatus, int>> failures;
    std::map<Call, size_t> calls;
    IOProcID nextProcID = 1;
    uint64_t cycles = 0;
    AudioObjectID defaultOutput = 0;
    double historySeconds = kHistorySeconds;

    std::thread clock;
    std::mutex clockMutex;
    std::condition_variable clockCV;
    bool clockStop = false;
    bool clockRunning = false;

    // Caller holds mutex.
    std::optional<OSStatus> takeFailure(Call call) {
        ++calls[call];
        auto it = failures.find(call);
        if (it == failures.end()) return std::nullopt;
        const OSStatus s = it->second.first;
        if (it->second.second > 0 && --it->second.second == 0) failures.erase(it);
        return s;
    }

    Device& device(AudioObjectID id) {
        auto it = devices.find(id);
        if (it != devices.end()) return it->second;
        Device d;
        if (auto cfg = server.bytes(id, sel::streamConfiguration, scope::output); cfg && cfg->size() >= 4) {
            uint32_t n = 0;
            std::memcpy(&n, cfg->data(), 4);
            for (uint32_t i = 0; i < n && 8 + 4 * i <= cfg->size(); ++i) {
                uint32_t c = 0;
                std::memcpy(&c, cfg->data() + 4 + 4 * i, 4);
                d.channels += c;
            }
        }
        d.rate = server.value<double>(id, sel::nominalSampleRate, scope::global).value_or(kDefaultRate);
        if (!(d.rate > 0)) d.rate = kDefaultRate;
        d.cycle.assign(static_cast<size_t>(d.channels) * kFrames, 0.0f);
        d.history.reset(d.channels, historyFrames(d.rate));
        return devices.emplace(id, std::move(d)).first->second;
    }

    uint32_t inputChannels(AudioObjectID id) const {
        auto cfg = server.bytes(id, sel::streamConfiguration, scope::input);
        uint32_t total = 0;
        if (cfg && cfg->size() >= 4) {
            uint32_t n = 0;
            std::memcpy(&n, cfg->data(), 4);
            for (uint32_t i = 0; i < n && 8 + 4 * i <= cfg->size(); ++i) {
                uint32_t c = 0;
                std::memcpy(&c, cfg->data() + 4 + 4 * i, 4);
                total += c;
            }
        }
        return total;
    }

    void render(Process& p, double rate) {
        p.rendered = true;
        float* out = p.block.data();
        const SimAudioSource& s = p.source;
        switch (s.kind) {
        case SimAudioSource::Kind::silence:
            std::fill(p.block.begin(), p.block.end(), 0.0f);
            break;
        case SimAudioSource::Kind::sine: {
            const double step = s.frequency / rate;
            for (uint32_t f = 0; f < kFrames; ++f) {
                const float v = s.amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * p.phase));
                out[2 * f] = v;
                out[2 * f + 1] = v;
                p.phase += step;
                if (p.phase >= 1.0) p.phase -= std::floor(p.phase);
            }
            break;
        }
        case SimAudioSource::Kind::noise:
            for (uint32_t f = 0; f < kFrames; ++f) {
                for (int c = 0; c < 2; ++c) {
                    // xorshift32: a deterministic uniform value in [-amplitude, amplitude].
                    uint32_t x = p.noiseState;
                    x ^= x << 13;
                    x ^= x >> 17;
                    x ^= x << 5;
                    p.noiseState = x;
                    const float u = static_cast<float>(x) / 4294967295.0f * 2.0f - 1.0f;
                    out[2 * f + static_cast<uint32_t>(c)] = s.amplitude * u;
                }
                if (s.channels == 1) out[2 * f + 1] = out[2 * f];
            }
            break;
        case SimAudioSource::Kind::wav: {
            if (!p.wav) {
                std::fill(p.block.begin(), p.block.end(), 0.0f);
                break;
            }
            const auto ch = static_cast<size_t>(p.wav->channels);
            const size_t frames = p.wav->samples.size() / ch;
            for (uint32_t f = 0; f < kFrames; ++f) {
                const size_t i = static_cast<size_t>(p.wavFrame % frames) * ch;
                const float l = p.wav->samples[i];
                const float r = ch > 1 && s.channels != 1 ? p.wav->samples[i + 1] : l;
                out[2 * f] = l;
                out[2 * f + 1] = r;
                ++p.wavFrame;
            }
            break;
        }
        }
    }

    static void addStereo(const std::vector<float>& stereo, Device& d) {
        if (d.channels == 0) return;
        for (uint32_t f = 0; f < kFrames; ++f) {
            const float l = stereo[2 * f], r = stereo[2 * f + 1];
            if (d.channels == 1) {
                d.cycle[f] += 0.5f * (l + r);
            } else {
                d.cycle[f * d.channels] += l;
                d.cycle[f * d.channels + 1] += r;
            }
        }
    }

    size_t historyFrames(double rate) const { return static_cast<size_t>(std::ceil(historySeconds * rate)); }

    void appendHistory(Device& d) {
        d.history.append(d.cycle.data(), kFrames);
        if (d.file) sf_writef_float(d.file, d.cycle.data(), kFrames);
    }

    void prepareBuffers(Aggregate& a) {
        a.inData.clear();
        a.outData.clear();
        a.outDevices.clear();
        std::vector<uint32_t> inChannels, outChannels;
        for (AudioObjectID dev : a.subDevices) {
            if (const uint32_t c = inputChannels(dev)) inChannels.push_back(c);
            if (const uint32_t c = device(dev).channels) {
                outChannels.push_back(c);
                a.outDevices.push_back(dev);
            }
        }
        for (size_t i = 0; i < a.description.taps.size(); ++i) inChannels.push_back(2);
        for (uint32_t c : inChannels) a.inData.emplace_back(static_cast<size_t>(c) * kFrames, 0.0f);
        for (uint32_t c : outChannels) a.outData.emplace_back(static_cast<size_t>(c) * kFrames, 0.0f);
        auto makeBuffers = [](std::vector<std::vector<float>>& data, const std::vector<uint32_t>& ch) {
            std::vector<AudioBuffer> out;
            for (size_t i = 0; i < data.size(); ++i)
                out.push_back(
                    AudioBuffer{ch[i], static_cast<uint32_t>(data[i].size() * sizeof(float)), data[i].data()});
            return out;
        };
        a.inBuffers = makeBuffers(a.inData, inChannels);
        a.outBuffers = makeBuffers(a.outData, outChannels);
    }

    AudioObjectID tapWithUID(const std::string& uid) const {
        for (const auto& [id, t] : taps)
            if (t.description.uuid == uid) return id;
        return 0;
    }

    // Caller holds cycleMutex and mutex.
    void runCycle() {
        ++cycles;
        const AudioObjectID out = defaultOutput;
        const double outRate = out ? device(out).rate : kDefaultRate;

        // Which processes are silenced on their own this cycle.
        std::set<AudioObjectID> silenced;
        std::set<AudioObjectID> runningTaps;
        for (auto& [id, a] : aggregates) {
            if (!a.isRunning()) continue;
            for (const auto& t : a.description.taps)
                if (AudioObjectID tid = tapWithUID(t.uid)) runningTaps.insert(tid);
        }
        for (const auto& [id, t] : taps) {
            const int mb = t.description.muteBehavior;
            if (mb == 1 || (mb == 2 && runningTaps.count(id)))
                silenced.insert(t.description.processes.begin(), t.description.processes.end());
        }

        for (auto& [id, d] : devices) std::fill(d.cycle.begin(), d.cycle.end(), 0.0f);
        for (auto& [id, p] : processes) p.rendered = false;

        // Processes heard on their own.
        for (auto& [id, p] : processes) {
            if (!p.playing || silenced.count(id) || !out) continue;
            render(p, outRate);
            addStereo(p.block, device(out));
        }

        // Aggregates.
        for (auto& [aid, a] : aggregates) {
            if (!a.isRunning()) continue;
            if (a.inBuffers.empty() && a.outBuffers.empty()) prepareBuffers(a);
            const double rate = a.subDevices.empty() ? kDefaultRate : device(a.subDevices.front()).rate;
            for (auto& d : a.inData) std::fill(d.begin(), d.end(), 0.0f);
            const size_t firstTap = a.inData.size() - a.description.taps.size();
            for (size_t t = 0; t < a.description.taps.size(); ++t) {
                auto tapIt = taps.find(tapWithUID(a.description.taps[t].uid));
                if (tapIt == taps.end()) continue;
                std::vector<float>& stream = a.inData[firstTap + t];
                for (AudioObjectID pid : tapIt->second.description.processes) {
                    auto pit = processes.find(pid);
                    if (pit == processes.end() || !pit->second.playing) continue;
                    if (!pit->second.rendered) render(pit->second, rate);
                    for (size_t i = 0; i < stream.size(); ++i) stream[i] += pit->second.block[i];
                }
            }
            for (auto& [pid, proc] : a.procs) {
                if (!proc.running) continue;
                for (auto& d : a.outData) std::fill(d.begin(), d.end(), 0.0f);
                AudioBufferList input{static_cast<uint32_t>(a.inBuffers.size()), a.inBuffers.data()};
                AudioBufferList output{static_cast<uint32_t>(a.outBuffers.size()), a.outBuffers.data()};
                a.io->call(proc.block, input, output);
                for (size_t i = 0; i < a.outData.size(); ++i) {
                    auto dit = devices.find(a.outDevices[i]);
                    if (dit == devices.end()) continue;
                    std::vector<float>& mix = dit->second.cycle;
                    const size_t n = std::min(mix.size(), a.outData[i].size());
                    for (size_t s = 0; s < n; ++s) mix[s] += a.outData[i][s];
                }
            }
        }

        // Every output device advances by one cycle, heard or not.
        for (AudioObjectID id : server.ids(kAudioObjectSystemObject, sel::deviceList, scope::global))
            if (server.objectClass(id) == simclass::device) device(id);
        for (auto& [id, d] : devices) appendHistory(d);
    }

    void onEvent(SimAudioServer::Event event, AudioObjectID object, const PropertyAddress& address) {
        using Event = SimAudioServer::Event;
        if (event == Event::destroyed) {
            std::vector<AudioObjectID> orphaned;
            {
                std::lock_guard lock(mutex);
                processes.erase(object);
                auto dit = devices.find(object);
                if (dit != devices.end()) {
                    if (dit->second.file) sf_close(dit->second.file);
                    devices.erase(dit);
                }
                for (auto& [aid, a] : aggregates) {
                    auto& subs = a.subDevices;
                    if (std::find(subs.begin(), subs.end(), object) == subs.end()) continue;
                    orphaned.push_back(aid);
                    subs.erase(std::remove(subs.begin(), subs.end(), object), subs.end());
                    a.inBuffers.clear();
                    a.outBuffers.clear();
                }
            }
            // An aggregate that lost one of its devices no longer plays where it should.
            for (AudioObjectID aid : orphaned) server.setValue<uint32_t>(aid, sel::deviceIsAlive, scope::global, 0);
            return;
        }
        if (event != Event::propertyChanged) return;
        if (address.selector == sel::processIsRunningOutput) {
            if (server.objectClass(object) != simclass::process) return;
            const bool playing = server.value<uint32_t>(object, sel::processIsRunningOutput, scope::global).value_or(0);
            std::lock_guard lock(mutex);
            processes[object].playing = playing;
        } else if (address.selector == sel::defaultOutputDevice && object == kAudioObjectSystemObject) {
            const AudioObjectID d = server.value<uint32_t>(object, sel::defaultOutputDevice, scope::global).value_or(0);
            std::lock_guard lock(mutex);
            defaultOutput = d;
        }
    }

    void clockLoop() {
        pthread_setname_np(pthread_self(), "sim-clock");
        using clock = std::chrono::steady_clock;
        auto next = clock::now();
        std::unique_lock lock(clockMutex);
        while (!clockStop) {
            double rate = kDefaultRate;
            {
                std::lock_guard c(cycleMutex);
                std::lock_guard m(mutex);
                if (defaultOutput) rate = device(defaultOutput).rate;
                runCycle();
            }
            next += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(kFrames / rate));
            clockCV.wait_until(lock, next, [this] { return clockStop; });
        }
    }
};

SimAudioEngine::SimAudioEngine(SimAudioServer& server) : impl_(std::make_unique<Impl>(server)) {
    Impl* impl = impl_.get();
    impl->defaultOutput =
        server.value<uint32_t>(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global).value_or(0);
    // The server outlives its engine's observer calls: it destroys the engine first and changes
    // nothing after that.
    server.addObserver(
        [impl](SimAudioServer::Event e, AudioObjectID o, const PropertyAddress& a) { impl->onEvent(e, o, a); });
}

SimAudioEngine::~SimAudioEngine() {
    stopClock();
    std::lock_guard lock(impl_->mutex);
    for (auto& [id, d] : impl_->devices)
        if (d.file) sf_close(d.file);
    impl_->devices.clear();
    impl_->aggregates.clear(); // joins the IO threads
}

OSStatus SimAudioEngine::createProcessTap(const TapDescription& description, AudioObjectID& outTap) {
    {
        std::lock_guard lock(impl_->mutex);
        if (auto s = impl_->takeFailure(Call::createProcessTap)) return *s;
    }
    SimAudioServer& server = impl_->server;
    const AudioObjectID id = server.createObject(simclass::tap);
    server.setString(id, sel::deviceUID, scope::global, description.uuid, false);
    server.setString(id, sel::name, scope::global, description.name, false);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->taps[id] = Impl::Tap{description};
    }
    outTap = id;
    return status::noErr;
}

OSStatus SimAudioEngine::destroyProcessTap(AudioObjectID tap) {
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->taps.erase(tap)) return status::badObject;
    }
    impl_->server.destroyObject(tap);
    return status::noErr;
}

OSStatus SimAudioEngine::createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice) {
    {
        std::lock_guard lock(impl_->mutex);
        if (auto s = impl_->takeFailure(Call::createAggregateDevice)) return *s;
    }
    SimAudioServer& server = impl_->server;
    auto withUID = [&](const std::string& uid) -> AudioObjectID {
        for (AudioObjectID d : server.ids(kAudioObjectSystemObject, sel::deviceList, scope::global))
            if (server.objectClass(d) == simclass::device && server.string(d, sel::deviceUID, scope::global) == uid)
                return d;
        return 0;
    };
    Impl::Aggregate a;
    a.description = description;
    std::vector<std::string> members;
    std::vector<uint32_t> outStreams{0}, inStreams{0};
    for (const auto& sub : description.subdevices) {
        members.push_back(sub.uid);
        const AudioObjectID d = withUID(sub.uid);
        if (!d) continue;
        a.subDevices.push_back(d);
        auto cfg = server.bytes(d, sel::streamConfiguration, scope::output);
        if (cfg && cfg->size() >= 8) {
            uint32_t c = 0;
            std::memcpy(&c, cfg->data() + 4, 4);
            outStreams.push_back(c);
        }
        if (const uint32_t c = impl_->inputChannels(d)) inStreams.push_back(c);
    }
    for (const auto& t : description.taps) {
        members.push_back(t.uid);
        inStreams.push_back(2);
    }
    outStreams[0] = static_cast<uint32_t>(outStreams.size() - 1);
    inStreams[0] = static_cast<uint32_t>(inStreams.size() - 1);
    auto toBytes = [](const std::vector<uint32_t>& words) {
        std::vector<uint8_t> b(words.size() * 4);
        std::memcpy(b.data(), words.data(), b.size());
        return b;
    };

    const AudioObjectID id = server.createObject(simclass::aggregate);
    server.setString(id, sel::deviceUID, scope::global, description.uid, false);
    server.setString(id, sel::name, scope::global, description.name, false);
    server.setValue<uint32_t>(id, sel::transportType, scope::global, transport::aggregate, false);
    server.setStringList(id, sel::aggregateFullSubDeviceList, scope::global, members, false);
    server.setValue<uint32_t>(id, sel::deviceIsAlive, scope::global, 1, false);
    server.setBytes(id, sel::streamConfiguration, scope::output, toBytes(outStreams), false);
    server.setBytes(id, sel::streamConfiguration, scope::input, toBytes(inStreams), false);
    if (!a.subDevices.empty()) {
        // The first sub-device is the clock: the aggregate runs at its rate and format.
        const AudioObjectID main = a.subDevices.front();
        if (auto rate = server.value<double>(main, sel::nominalSampleRate, scope::global))
            server.setValue<double>(id, sel::nominalSampleRate, scope::global, *rate, false);
        if (auto fmt = server.value<AudioStreamBasicDescription>(main, sel::streamFormat, scope::output))
            server.setValue(id, sel::streamFormat, scope::output, *fmt, false);
    } else {
        server.setValue<double>(id, sel::nominalSampleRate, scope::global, kDefaultRate, false);
    }
    {
        std::lock_guard lock(impl_->mutex);
        impl_->aggregates.emplace(id, std::move(a));
    }
    server.appendID(kAudioObjectSystemObject, sel::deviceList, scope::global, id);
    outDevice = id;
    return status::noErr;
}

OSStatus SimAudioEngine::destroyAggregateDevice(AudioObjectID device) {
    SimAudioServer& server = impl_->server;
    if (server.objectClass(device) != simclass::aggregate) return status::badObject;
    std::unique_ptr<IOThread> io;
    {
        // Waits for a cycle in progress: after this the aggregate's procedures never run again.
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->aggregates.find(device);
        if (it != impl_->aggregates.end()) {
            if (it->second.isRunning()) return status::illegalOperation;
            io = std::move(it->second.io);
            impl_->aggregates.erase(it);
        }
        impl_->devices.erase(device);
    }
    io.reset();
    server.removeID(kAudioObjectSystemObject, sel::deviceList, scope::global, device);
    server.destroyObject(device);
    return status::noErr;
}

OSStatus SimAudioEngine::createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) {
    std::lock_guard lock(impl_->mutex);
    if (auto s = impl_->takeFailure(Call::createIOProc)) return *s;
    auto it = impl_->aggregates.find(device);
    if (it == impl_->aggregates.end() || !block) return status::badObject;
    const IOProcID id = impl_->nextProcID++;
    it->second.procs[id] = Impl::Proc{std::move(block), false};
    outID = id;
    return status::noErr;
}

OSStatus SimAudioEngine::destroyIOProc(AudioObjectID device, IOProcID id) {
    Impl::Proc gone;
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->aggregates.find(device);
        if (it == impl_->aggregates.end()) return status::badObject;
        auto pit = it->second.procs.find(id);
        if (pit == it->second.procs.end() || pit->second.running) return status::illegalOperation;
        gone = std::move(pit->second);
        it->second.procs.erase(pit);
    }
    return status::noErr; // the block is released outside the lock
}

OSStatus SimAudioEngine::startDevice(AudioObjectID device, IOProcID id) {
    std::lock_guard lock(impl_->mutex);
    if (auto s = impl_->takeFailure(Call::startDevice)) return *s;
    auto it = impl_->aggregates.find(device);
    if (it == impl_->aggregates.end()) return status::badObject;
    auto pit = it->second.procs.find(id);
    if (pit == it->second.procs.end()) return status::illegalOperation;
    if (!it->second.io) it->second.io = std::make_unique<IOThread>();
    pit->second.running = true;
    return status::noErr;
}

OSStatus SimAudioEngine::stopDevice(AudioObjectID device, IOProcID id) {
    // Taking the lock waits for a cycle in progress to finish.
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->aggregates.find(device);
    if (it == impl_->aggregates.end()) return status::badObject;
    auto pit = it->second.procs.find(id);
    if (pit == it->second.procs.end()) return status::illegalOperation;
    pit->second.running = false;
    return status::noErr;
}

void SimAudioEngine::setProcessSource(AudioObjectID process, const SimAudioSource& source) {
    std::shared_ptr<const WavData> wav;
    if (source.kind == SimAudioSource::Kind::wav) {
        wav = loadWav(source.path);
        if (!wav) impl_->log.error(strprintf("Cannot read WAV source %s; playing silence", source.path.c_str()));
    }
    const bool playing =
        impl_->server.value<uint32_t>(process, sel::processIsRunningOutput, scope::global).value_or(0) != 0;
    std::lock_guard lock(impl_->mutex);
    auto& p = impl_->processes[process];
    p.source = source;
    p.wav = std::move(wav);
    p.playing = playing;
    p.phase = 0;
    p.wavFrame = 0;
}

void SimAudioEngine::setDeviceOutputFile(AudioObjectID device, const std::string& path) {
    std::lock_guard lock(impl_->mutex);
    Impl::Device& d = impl_->device(device);
    if (d.file) {
        sf_close(d.file);
        d.file = nullptr;
    }
    if (path.empty() || d.channels == 0) return;
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(d.rate));
    info.channels = static_cast<int>(d.channels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // Only into a regular file: opening a FIFO to write would wait for a reader, here under the
    // engine's lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    struct stat stats {};
    if (fd < 0 || ::fstat(fd, &stats) != 0 || !S_ISREG(stats.st_mode) || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0) ::close(fd);
        impl_->log.error(strprintf("Cannot write device output to %s: not a regular file we can write", path.c_str()));
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    d.file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!d.file)
        impl_->log.error(strprintf("Cannot write device output to %s: %s", path.c_str(), sf_strerror(nullptr)));
}

void SimAudioEngine::runCycles(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::lock_guard c(impl_->cycleMutex);
        std::lock_guard m(impl_->mutex);
        impl_->runCycle();
    }
}

void SimAudioEngine::startClock() {
    std::lock_guard lock(impl_->clockMutex);
    if (impl_->clockRunning) return;
    impl_->clockStop = false;
    impl_->clockRunning = true;
    impl_->clock = std::thread([impl = impl_.get()] { impl->clockLoop(); });
}

void SimAudioEngine::stopClock() {
    {
        std::lock_guard lock(impl_->clockMutex);
        if (!impl_->clockRunning) return;
        impl_->clockStop = true;
        impl_->clockRunning = false;
    }
    impl_->clockCV.notify_all();
    impl_->clock.join();
}

bool SimAudioEngine::isClockRunning() const {
    std::lock_guard lock(impl_->clockMutex);
    return impl_->clockRunning;
}

uint64_t SimAudioEngine::cycleCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->cycles;
}

size_t SimAudioEngine::outputFrameCount(AudioObjectID device) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->devices.find(device);
    if (it == impl_->devices.end()) return 0;
    return it->second.history.frameCount();
}

uint32_t SimAudioEngine::outputChannelCount(AudioObjectID device) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->devices.find(device);
    return it == impl_->devices.end() ? 0 : it->second.channels;
}

std::vector<float> SimAudioEngine::outputSamples(AudioObjectID device, uint32_t channel, size_t frames) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->devices.find(device);
    if (it == impl_->devices.end()) return {};
    return it->second.history.channel(channel, frames);
}

void SimAudioEngine::setOutputHistorySeconds(double seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->historySeconds = seconds > 0.0 ? seconds : 0.0;
    for (auto& [id, d] : impl_->devices) d.history.reset(d.channels, impl_->historyFrames(d.rate));
}

float SimAudioEngine::outputPeak(AudioObjectID device, uint32_t channel, size_t frames) const {
    float peak = 0.0f;
    for (float v : outputSamples(device, channel, frames)) peak = std::max(peak, std::fabs(v));
    return peak;
}

float SimAudioEngine::outputRMS(AudioObjectID device, uint32_t channel, size_t frames) const {
    const auto s = outputSamples(device, channel, frames);
    if (s.empty()) return 0.0f;
    double sum = 0;
    for (float v : s) sum += static_cast<double>(v) * v;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(s.size())));
}

void SimAudioEngine::clearOutput(AudioObjectID device) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->devices.find(device);
    if (it != impl_->devices.end()) it->second.history.clear();
}

void SimAudioEngine::injectFailure(Call call, OSStatus status, int times) {
    std::lock_guard lock(impl_->mutex);
    if (times == 0) {
        impl_->failures.erase(call);
        return;
    }
    impl_->failures[call] = {status, times < 0 ? -1 : times};
}

void SimAudioEngine::clearFailures() {
    std::lock_guard lock(impl_->mutex);
    impl_->failures.clear();
}

size_t SimAudioEngine::callCount(Call call) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->calls.find(call);
    return it == impl_->calls.end() ? 0 : it->second;
}

std::optional<TapDescription> SimAudioEngine::tapDescription(AudioObjectID tap) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->taps.find(tap);
    if (it == impl_->taps.end()) return std::nullopt;
    return it->second.description;
}

std::optional<AggregateDescription> SimAudioEngine::aggregateDescription(AudioObjectID device) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->aggregates.find(device);
    if (it == impl_->aggregates.end()) return std::nullopt;
    return it->second.description;
}

std::vector<AudioObjectID> SimAudioEngine::liveTaps() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<AudioObjectID> out;
    for (const auto& [id, t] : impl_->taps) out.push_back(id);
    return out;
}

std::vector<AudioObjectID> SimAudioEngine::liveAggregates() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<AudioObjectID> out;
    for (const auto& [id, a] : impl_->aggregates) out.push_back(id);
    return out;
}

bool SimAudioEngine::isDeviceRunning(AudioObjectID device) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->aggregates.find(device);
    return it != impl_->aggregates.end() && it->second.isRunning();
}

size_t SimAudioEngine::ioProcCount(AudioObjectID device) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->aggregates.find(device);
    return it == impl_->aggregates.end() ? 0 : it->second.procs.size();
}

} // namespace orevant
