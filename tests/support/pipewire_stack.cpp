#include "support/pipewire_stack.h"

#include "platform/pipewire/pipewire_api.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orevant::test {

namespace {
std::string script() { return std::string(OREVANT_SOURCE_DIR) + "/scripts/pipewire-stack.sh"; }

void useEnvironment(const std::string& dir) {
    std::string lines;
    runCommand("bash '" + script() + "' env '" + dir + "'", &lines);
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) ::setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
    }
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR"}) ::unsetenv(name);
}
} // namespace

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        if (output) output->append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PipeWireStack::PipeWireStack(int quantum) {
    std::string out;
    if (runCommand("bash '" + script() + "' start " + std::to_string(quantum), &out) != 0) return;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    dir_ = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    useEnvironment(dir_);
}

PipeWireStack::~PipeWireStack() {
    if (!dir_.empty()) runCommand("bash '" + script() + "' stop '" + dir_ + "'");
}

bool PipeWireStack::restart() {
    return !dir_.empty() && runCommand("bash '" + script() + "' restart '" + dir_ + "'") == 0;
}

ToneFile::ToneFile(float amplitude, double frequency, double seconds) {
    char name[] = "/tmp/orevant-tone-XXXXXX.wav";
    const int fd = ::mkstemps(name, 4);
    if (fd >= 0) ::close(fd);
    path_ = name;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path_.c_str(), SFM_WRITE, &info);
    if (!file) return;
    const auto frames = static_cast<size_t>(seconds * 48000);
    std::vector<float> block(2 * 4800);
    for (size_t start = 0; start < frames; start += 4800) {
        for (size_t f = 0; f < 4800; ++f) {
            const double t = static_cast<double>(start + f) / 48000.0;
            block[2 * f] = block[2 * f + 1] =
                amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * t));
        }
        sf_writef_float(file, block.data(), 4800);
    }
    sf_close(file);
}

ToneFile::~ToneFile() { std::filesystem::remove(path_); }

namespace {
std::vector<std::string> playerArgs(Player::Kind kind, const std::string& applicationID, const std::string& file) {
    if (kind == Player::Kind::native)
        return {"pw-play", "-P", "{ application.id=" + applicationID + " application.name=" + applicationID + " }",
                file};
    return {"paplay", file};
}
} // namespace

Player::Player(Kind kind, const std::string& applicationID, const std::string& file)
    : Player(playerArgs(kind, applicationID, file),
             kind == Kind::pulse ? std::vector<std::string>{"PULSE_PROP=application.id=" + applicationID}
                                 : std::vector<std::string>{}) {}

Player::Player(std::vector<std::string> args, std::vector<std::string> extraEnvironment) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
}

Player::~Player() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

struct Capture::Impl {
    pw_thread_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    int channels = 2;
    mutable std::mutex mutex;
    std::vector<float> data; // interleaved
    bool streaming = false;

    static void process(void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        pw_buffer* b = pw_stream_dequeue_buffer(self->stream);
        if (!b) return;
        const spa_data& d = b->buffer->datas[0];
        if (d.data && d.chunk) {
            const auto* samples = static_cast<const float*>(SPA_PTROFF(d.data, d.chunk->offset, void));
            const size_t n = d.chunk->size / sizeof(float);
            std::lock_guard lock(self->mutex);
            self->data.insert(self->data.end(), samples, samples + n);
        }
        pw_stream_queue_buffer(self->stream, b);
    }
    static void stateChanged(void* userdata, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<Impl*>(userdata)->streaming = state == PW_STREAM_STATE_STREAMING;
    }
};

Capture::Capture(const std::string& sinkName, int channels) : impl_(std::make_unique<Impl>()) {
    pw_init(nullptr, nullptr);
    impl_->channels = channels;
    impl_->loop = pw_thread_loop_new("test-capture", nullptr);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Impl::stateChanged;
        e.process = &Impl::process;
        return e;
    }();
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Production",
                          "stream.capture.sink", "true", PW_KEY_TARGET_OBJECT, sinkName.c_str(), PW_KEY_NODE_NAME,
                          "orevant-test-capture", nullptr);
    impl_->stream =
        pw_stream_new_simple(pw_thread_loop_get_loop(impl_->loop), "orevant-test-capture", props, &events, impl_.get());
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = 48000;
    info.channels = static_cast<uint32_t>(channels);
    static const uint32_t eight[] = {SPA_AUDIO_CHANNEL_FL,  SPA_AUDIO_CHANNEL_FR, SPA_AUDIO_CHANNEL_FC,
                                     SPA_AUDIO_CHANNEL_LFE, SPA_AUDIO_CHANNEL_RL, SPA_AUDIO_CHANNEL_RR,
                                     SPA_AUDIO_CHANNEL_SL,  SPA_AUDIO_CHANNEL_SR};
    static const uint32_t four[] = {SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_FR, SPA_AUDIO_CHANNEL_RL,
                                    SPA_AUDIO_CHANNEL_RR};
    const uint32_t* positions = channels == 4 ? four : eight;
    for (int c = 0; c < channels && c < 8; ++c) info.position[c] = positions[c];
    const spa_pod* params[1] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
    pw_stream_connect(impl_->stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_start(impl_->loop);
    for (int i = 0; i < 500 && !isRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

Capture::~Capture() {
    pw_thread_loop_stop(impl_->loop);
    pw_stream_destroy(impl_->stream);
    pw_thread_loop_destroy(impl_->loop);
}

bool Capture::isRunning() const {
    pw_thread_loop_lock(impl_->loop);
    const bool running = impl_->streaming;
    pw_thread_loop_unlock(impl_->loop);
    return running;
}

void Capture::clear() {
    std::lock_guard lock(impl_->mutex);
    impl_->data.clear();
}

size_t Capture::frames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->data.size() / static_cast<size_t>(impl_->channels);
}

std::vector<float> Capture::samples(int channel) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<float> out;
    const auto ch = static_cast<size_t>(impl_->channels);
    for (size_t i = static_cast<size_t>(channel); i < impl_->data.size(); i += ch) out.push_back(impl_->data[i]);
    return out;
}

float Capture::rms(int channel, double seconds) const {
    const auto all = samples(channel);
    const size_t n = std::min(all.size(), static_cast<size_t>(seconds * 48000));
    if (n == 0) return 0.0f;
    double sum = 0;
    for (size_t i = all.size() - n; i < all.size(); ++i) sum += static_cast<double>(all[i]) * all[i];
    return static_cast<float>(std::sqrt(sum / static_cast<double>(n)));
}

float Capture::peak(int channel, double seconds) const {
    const auto all = samples(channel);
    const size_t n = std::min(all.size(), static_cast<size_t>(seconds * 48000));
    float p = 0;
    for (size_t i = all.size() - n; i < all.size(); ++i) p = std::max(p, std::fabs(all[i]));
    return p;
}

bool pumpUntil(ManualMainQueue& queue, const std::function<bool()>& done, double seconds) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto last = start;
    for (;;) {
        queue.runUntilIdle();
        if (done()) return true;
        const auto now = clock::now();
        if (now - start > std::chrono::duration<double>(seconds)) return false;
        queue.advance(std::chrono::duration<double>(now - last).count());
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void pumpFor(ManualMainQueue& queue, double seconds) {
    pumpUntil(
        queue, [] { return false; }, seconds);
}

} // namespace orevant::test
