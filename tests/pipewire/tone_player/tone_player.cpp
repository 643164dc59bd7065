// A test application for the PipeWire integration tests and benchmark: one process that plays a
// 1 kHz sine (peak 0.5) on one stream and, after --second-after seconds, opens a second stream
// with a 1.5 kHz sine (peak 0.5); with --click it plays a click (one sample at 1.0) every 0.25 s
// instead. Runs until killed or --seconds pass.
//   orevant-test-tone-player --app-id ID [--second-after S] [--seconds S] [--click 1]
#include "platform/pipewire/pipewire_api.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <thread>

namespace {

struct Tone {
    pw_stream* stream = nullptr;
    spa_hook listener{};
    double frequency = 1000.0;
    double phase = 0.0;
    bool click = false;
    uint64_t frame = 0;

    static void process(void* data) {
        auto* tone = static_cast<Tone*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(tone->stream);
        if (!b) return;
        spa_data& d = b->buffer->datas[0];
        auto* out = static_cast<float*>(d.data);
        if (!out) return;
        uint32_t frames = d.maxsize / (2 * sizeof(float));
        if (b->requested && b->requested < frames) frames = static_cast<uint32_t>(b->requested);
        for (uint32_t f = 0; f < frames && tone->click; ++f, ++tone->frame)
            out[2 * f] = out[2 * f + 1] = tone->frame % 12000 == 0 ? 1.0f : 0.0f;
        for (uint32_t f = 0; f < frames && !tone->click; ++f) {
            const float v = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * tone->phase));
            out[2 * f] = out[2 * f + 1] = v;
            tone->phase += tone->frequency / 48000.0;
            if (tone->phase >= 1.0) tone->phase -= 1.0;
        }
        d.chunk->offset = 0;
        d.chunk->stride = 2 * sizeof(float);
        d.chunk->size = frames * 2 * sizeof(float);
        pw_stream_queue_buffer(tone->stream, b);
    }

    void open(pw_loop* loop, const std::string& appID, const char* name) {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.process = &Tone::process;
            return e;
        }();
        pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                                 PW_KEY_MEDIA_ROLE, "Music", PW_KEY_APP_ID, appID.c_str(),
                                                 PW_KEY_APP_NAME, appID.c_str(), PW_KEY_NODE_NAME, name, nullptr);
        stream = pw_stream_new_simple(loop, name, props, &events, this);
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = 48000;
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[1] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
        pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                       PW_STREAM_FLAG_RT_PROCESS),
                          params, 1);
    }
};

} // namespace

int main(int argc, char** argv) {
    std::string appID = "org.example.TonePlayer";
    double secondAfter = -1, seconds = 60;
    bool click = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--app-id")
            appID = argv[i + 1];
        else if (key == "--second-after")
            secondAfter = std::atof(argv[i + 1]);
        else if (key == "--seconds")
            seconds = std::atof(argv[i + 1]);
    }
    pw_init(&argc, &argv);
    pw_thread_loop* loop = pw_thread_loop_new("tone-player", nullptr);
    Tone first, second;
    second.frequency = 1500.0;
    first.click = click;
    pw_thread_loop_lock(loop);
    first.open(pw_thread_loop_get_loop(loop), appID, "tone-player-1");
    pw_thread_loop_unlock(loop);
    pw_thread_loop_start(loop);
    const auto start = std::chrono::steady_clock::now();
    bool opened = false;
    while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
        if (!opened && secondAfter >= 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(secondAfter)) {
            pw_thread_loop_lock(loop);
            second.open(pw_thread_loop_get_loop(loop), appID, "tone-player-2");
            pw_thread_loop_unlock(loop);
            opened = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pw_thread_loop_stop(loop);
    return 0;
}
