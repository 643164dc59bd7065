// The render kernels, written once for two instruction sets. Included by one source file per set,
// inside an anonymous namespace, after that file defines OREVANT_VECTOR_BYTES (16: four floats an
// operation; 32: eight). No include guard: each set compiles its own copy.
//
// Only compiler builtins are used in here, never an inline function of the standard library: the
// linker keeps one copy of such a function for the whole program, and it could pick the copy that
// was compiled for AVX2 for code that runs on any CPU.
//
// Every value is computed with the same single-precision operations in both sets (the kernel
// sources are built with -ffp-contract=off, so no multiply and add is fused), so the two sets
// agree bit for bit.

constexpr size_t kBlock = RampTable::kBlock;
constexpr int kMaxLaneChannels = 64;

using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));
using Double2 = double __attribute__((vector_size(16)));
#if OREVANT_VECTOR_BYTES == 32
using FloatW = float __attribute__((vector_size(32)));
using IntW = int32_t __attribute__((vector_size(32)));
using DoubleW = double __attribute__((vector_size(32)));
#else
using FloatW = Float4;
using IntW = Int4;
using DoubleW = Double2;
#endif
constexpr size_t W = sizeof(FloatW) / sizeof(float);

template <typename V>
inline V loadV(const void* p) noexcept {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
template <typename V>
inline void storeV(float* p, V v) noexcept {
    __builtin_memcpy(p, &v, sizeof v);
}
// Built without arithmetic, so a negative zero or a denormal is carried as it is.
template <typename V>
inline V splat(float x) noexcept {
    if constexpr (sizeof(V) == 16) {
        return V{x, x, x, x};
    } else {
        return V{x, x, x, x, x, x, x, x};
    }
}
template <typename V, typename I>
inline V absV(V v) noexcept {
    return reinterpret_cast<V>(reinterpret_cast<I>(v) & 0x7FFFFFFF);
}
// A NaN in b is passed over.
template <typename V>
inline V maxV(V a, V b) noexcept {
    return a < b ? b : a;
}
template <typename V, typename I>
inline V keepV(V v, I mask) noexcept {
    return reinterpret_cast<V>(reinterpret_cast<I>(v) & mask);
}
inline float maxf(float a, float b) noexcept { return a < b ? b : a; }
template <typename V>
inline float highest(V v) noexcept {
    float m = 0.0f;
    for (size_t i = 0; i < sizeof(V) / sizeof(float); ++i) m = maxf(m, v[i]);
    return m;
}

// The gain a ramp ends a call with. The per-frame recurrence lands on the target once within
// kGainSnap of it, or once one more step would not move the gain: in single precision the step
// k × (target − g) falls below half a unit in the last place some way short of the target (about
// 4e-5 below a target of 1 at 48 kHz) and would hang there. The closed form follows the exact
// curve and never hangs, so it lands as soon as it is as close as the recurrence can get, which
// also depends on where rounding takes the recurrence: within 1e-6 plus one unit in the last
// place of the larger gain divided by k (a little wider than that band, so never later).
inline float landedGain(float g, float target, float k) noexcept {
    const float distance = __builtin_fabsf(g - target);
    if (distance < 1e-6f) return target;
    if (k > 0.0f) {
        const float scale = maxf(__builtin_fabsf(g), __builtin_fabsf(target));
        if (distance < 1e-6f + scale * 0x1p-23f / k || g + k * (target - g) == g) return target;
    }
    return g;
}

// One bus's ramp inside a call, in closed form: the gain i frames on is t + d × powers[i − 1].
struct Run {
    float t, d;
    explicit Run(const BusRamp& r) noexcept : t(r.target), d(r.gain - r.target) {}
    float at(const RampTable& table, size_t i) const noexcept { return t + d * table.powers[i]; }
    void advance(const RampTable& table, size_t frames) noexcept {
        if (frames) d = d * table.powers[frames - 1];
    }
    // The gains of the next `count` frames (at most a block), then moves past them.
    void block(const RampTable& table, size_t count, float* gains) noexcept {
        for (size_t i = 0; i < count; ++i) gains[i] = at(table, i);
        advance(table, count);
    }
    void end(BusRamp& r, float k) const noexcept { r.gain = landedGain(t + d, t, k); }
};

// ---- Peaks ----

float peakKernel(const float* s, size_t n) noexcept {
    FloatW a = {}, b = {}, c = {}, e = {};
    size_t i = 0;
    for (; i + 4 * W <= n; i += 4 * W) {
        a = maxV(a, absV<FloatW, IntW>(loadV<FloatW>(s + i)));
        b = maxV(b, absV<FloatW, IntW>(loadV<FloatW>(s + i + W)));
        c = maxV(c, absV<FloatW, IntW>(loadV<FloatW>(s + i + 2 * W)));
        e = maxV(e, absV<FloatW, IntW>(loadV<FloatW>(s + i + 3 * W)));
    }
    for (; i + W <= n; i += W) a = maxV(a, absV<FloatW, IntW>(loadV<FloatW>(s + i)));
    float peak = highest(maxV(maxV(a, b), maxV(c, e)));
    for (; i < n; ++i) peak = maxf(peak, __builtin_fabsf(s[i]));
    return peak;
}

// The peak of a slice at steady gain g whose samples' own peak is sourcePeak: exact, since
// rounding keeps the order of magnitudes. At gain 0 the slice is silent (or NaN, which meters pass
// over) whatever the source held.
inline float steadyPeak(float g, float sourcePeak) noexcept {
    return g == 0.0f ? 0.0f : __builtin_fabsf(g) * sourcePeak;
}

// ---- Flat: as many source channels as destination channels, the one slice covering them all ----

// Constant gain: one multiply per sample. The MAIN peak is |g| × the source's peak, exactly
// (rounding keeps the order of magnitudes), so it is taken from the source in the same pass.
float flatSteady(const float* __restrict s, float* __restrict d, size_t n, float g, bool meter) noexcept {
    const FloatW gv = splat<FloatW>(g);
    FloatW a = {}, b = {};
    size_t i = 0;
    if (meter) {
        for (; i + 2 * W <= n; i += 2 * W) {
            const FloatW x = loadV<FloatW>(s + i), y = loadV<FloatW>(s + i + W);
            storeV(d + i, x * gv);
            storeV(d + i + W, y * gv);
            a = maxV(a, absV<FloatW, IntW>(x));
            b = maxV(b, absV<FloatW, IntW>(y));
        }
    } else {
        for (; i + 2 * W <= n; i += 2 * W) {
            storeV(d + i, loadV<FloatW>(s + i) * gv);
            storeV(d + i + W, loadV<FloatW>(s + i + W) * gv);
        }
    }
    float peak = highest(maxV(a, b));
    for (; i < n; ++i) {
        d[i] = g * s[i];
        peak = maxf(peak, __builtin_fabsf(s[i]));
    }
    return meter ? steadyPeak(g, peak) : 0.0f;
}

// A ramp over frames of N interleaved channels (1 or 2), a block of 16 frames at a time; the
// gains of a block come from the table of powers (pairPowers for stereo), so no frame waits for
// the one before it.
template <size_t N>
float flatRampNarrow(const float* __restrict s, float* __restrict d, size_t frames, Run& run, const RampTable& table,
                     bool meter) noexcept {
    static_assert(N == 1 || N == 2);
    const float* P = N == 1 ? table.powers : table.pairPowers;
    constexpr size_t kBlockSamples = kBlock * N;
    static_assert(kBlockSamples % W == 0);
    FloatW acc = {};
    size_t f = 0;
    for (; f + kBlock <= frames; f += kBlock) {
        const FloatW tv = splat<FloatW>(run.t), dv = splat<FloatW>(run.d);
        const size_t base = f * N;
        for (size_t v = 0; v < kBlockSamples; v += W) {
            const FloatW o = loadV<FloatW>(s + base + v) * (tv + dv * loadV<FloatW>(P + v));
            storeV(d + base + v, o);
            acc = maxV(acc, absV<FloatW, IntW>(o));
        }
        run.advance(table, kBlock);
    }
    float peak = highest(acc);
    const size_t rest = frames - f;
    for (size_t i = 0; i < rest; ++i) {
        const float g = run.at(table, i);
        for (size_t c = 0; c < N; ++c) {
            const float o = s[(f + i) * N + c] * g;
            d[(f + i) * N + c] = o;
            peak = maxf(peak, __builtin_fabsf(o));
        }
    }
    run.advance(table, rest);
    return meter ? peak : 0.0f;
}

float flatRampWide(const float* __restrict s, float* __restrict d, size_t frames, size_t n, Run& run,
                   const RampTable& table, bool meter) noexcept {
    float gains[kBlock];
    FloatW acc = {};
    float peak = 0.0f;
    for (size_t f = 0; f < frames; f += kBlock) {
        const size_t count = frames - f < kBlock ? frames - f : kBlock;
        run.block(table, count, gains);
        for (size_t i = 0; i < count; ++i) {
            const float* sf = s + (f + i) * n;
            float* df = d + (f + i) * n;
            const FloatW gv = splat<FloatW>(gains[i]);
            size_t c = 0;
            for (; c + W <= n; c += W) {
                const FloatW o = loadV<FloatW>(sf + c) * gv;
                storeV(df + c, o);
                acc = maxV(acc, absV<FloatW, IntW>(o));
            }
            for (; c < n; ++c) {
                df[c] = sf[c] * gains[i];
                peak = maxf(peak, __builtin_fabsf(df[c]));
            }
        }
    }
    return meter ? maxf(peak, highest(acc)) : 0.0f;
}

// ---- Lanes: a mono or stereo source into slices of a wider destination ----
//
// What each destination channel carries is worked out once per call: left or right source
// channel, MAIN or PHONES gain, silence, or (when other channels are left alone) the
// destination's own value. Each frame is then a few whole-vector operations, with no branch.
struct LanePlan {
    alignas(32) int32_t right[kMaxLaneChannels];  // -1: the right (second) source channel
    alignas(32) int32_t phones[kMaxLaneChannels]; // -1: PHONES gain, 0: MAIN gain
    alignas(32) int32_t keep[kMaxLaneChannels];   // -1: a computed sample, 0: silence
    alignas(32) int32_t own[kMaxLaneChannels];    // -1: left as the destination holds it
    alignas(32) int32_t metered[kMaxLaneChannels];
    alignas(32) float steady[kMaxLaneChannels]; // each channel's gain while both buses hold still
};

struct LaneFrame {
    float left, right, mainGain, phonesGain;
};

template <typename V, typename I>
inline V laneChunk(const LanePlan& p, size_t c, const LaneFrame& fr, bool ramping, float* dst, bool keepOwn, V& acc,
                   bool meter) noexcept {
    const I right = loadV<I>(p.right + c);
    V o = right != 0 ? splat<V>(fr.right) : splat<V>(fr.left);
    if (ramping) {
        const I ph = loadV<I>(p.phones + c);
        o = o * (ph != 0 ? splat<V>(fr.phonesGain) : splat<V>(fr.mainGain));
    } else {
        o = o * loadV<V>(p.steady + c);
    }
    o = keepV(o, loadV<I>(p.keep + c));
    if (keepOwn) {
        const I own = loadV<I>(p.own + c);
        o = own != 0 ? loadV<V>(dst) : o;
    }
    if (meter) acc = maxV(acc, keepV(absV<V, I>(o), loadV<I>(p.metered + c)));
    return o;
}

// One frame of DS channels (0: the count is known only at run time).
template <size_t DS>
inline void laneFrame(const LanePlan& p, size_t ds, const LaneFrame& fr, bool ramping, float* d, bool keepOwn,
                      bool meter, FloatW& acc, Float4& acc4, float& peak) noexcept {
    const size_t n = DS ? DS : ds;
    size_t c = 0;
    for (; c + W <= n; c += W) storeV(d + c, laneChunk<FloatW, IntW>(p, c, fr, ramping, d + c, keepOwn, acc, meter));
    if constexpr (W > 4) {
        for (; c + 4 <= n; c += 4)
            storeV(d + c, laneChunk<Float4, Int4>(p, c, fr, ramping, d + c, keepOwn, acc4, meter));
    }
    for (; c < n; ++c) {
        if (keepOwn && p.own[c]) continue;
        float o = 0.0f;
        if (p.keep[c])
            o = (p.right[c] ? fr.right : fr.left) *
                (ramping ? (p.phones[c] ? fr.phonesGain : fr.mainGain) : p.steady[c]);
        d[c] = o;
        if (meter && p.metered[c]) peak = maxf(peak, __builtin_fabsf(o));
    }
}

template <size_t DS>
float laneFrames(const LanePlan& p, const float* __restrict s, size_t ss, float* __restrict d, size_t ds, size_t frames,
                 Run& main, Run* phones, const RampTable& table, bool ramping, bool keepOwn, bool meter) noexcept {
    FloatW acc = {};
    Float4 acc4 = {};
    float peak = 0.0f;
    float mainGains[kBlock], phonesGains[kBlock];
    LaneFrame fr{0.0f, 0.0f, main.t, phones ? phones->t : 0.0f};
    for (size_t f = 0; f < frames; f += kBlock) {
        const size_t count = frames - f < kBlock ? frames - f : kBlock;
        if (ramping) {
            main.block(table, count, mainGains);
            if (phones) phones->block(table, count, phonesGains);
        }
        for (size_t i = 0; i < count; ++i) {
            const float* sf = s + (f + i) * ss;
            fr.left = sf[0];
            fr.right = sf[ss - 1];
            if (ramping) {
                fr.mainGain = mainGains[i];
                if (phones) fr.phonesGain = phonesGains[i];
            }
            laneFrame<DS>(p, ds, fr, ramping, d + (f + i) * ds, keepOwn, meter, acc, acc4, peak);
        }
    }
    return maxf(peak, maxf(highest(acc), highest(acc4)));
}

// The common layouts: every computed channel takes the source channel of its own parity (a
// stereo source into slices at even channels, or a mono source anywhere), and the frame is
// C whole vectors. Then a frame is the source pair repeated across a vector, times each
// channel's gain, with silent channels masked off: no per-channel choice at all, and every mask
// and steady gain held in registers for the whole call.
template <typename V, typename I>
inline V sourcePattern(const float* sf, size_t ss) noexcept {
    if (ss == 1) return splat<V>(sf[0]);
    double pair;
    __builtin_memcpy(&pair, sf, sizeof pair);
    // The pair travels as one 64-bit lane, repeated without arithmetic (which would read the
    // two floats as a double).
#if OREVANT_VECTOR_BYTES == 32
    if constexpr (sizeof(V) == sizeof(DoubleW)) {
        return reinterpret_cast<V>(DoubleW{pair, pair, pair, pair});
    } else
#endif
    {
        return reinterpret_cast<V>(Double2{pair, pair});
    }
}

template <typename V, typename I, size_t C>
float patternFrames(const LanePlan& p, const float* __restrict s, size_t ss, float* __restrict d, size_t frames,
                    Run& main, Run* phones, const RampTable& table, bool ramping, bool meter) noexcept {
    constexpr size_t N = sizeof(V) / sizeof(float);
    constexpr size_t DS = N * C;
    V steady[C], acc[C];
    I keep[C], ph[C], metered[C];
    for (size_t c = 0; c < C; ++c) {
        steady[c] = loadV<V>(p.steady + c * N);
        keep[c] = loadV<I>(p.keep + c * N);
        ph[c] = loadV<I>(p.phones + c * N);
        metered[c] = loadV<I>(p.metered + c * N);
        acc[c] = V{};
    }
    if (!ramping) {
        // A stereo source's peak is taken in the same pass, two frames (four samples) at a time.
        Float4 sourceAcc = {};
        size_t f = 0;
        if (meter && ss == 2) {
#pragma GCC unroll 2
            for (; f + 2 <= frames; f += 2) {
                const V x0 = sourcePattern<V, I>(s + f * 2, 2), x1 = sourcePattern<V, I>(s + f * 2 + 2, 2);
                for (size_t c = 0; c < C; ++c) storeV(d + f * DS + c * N, keepV(x0 * steady[c], keep[c]));
                for (size_t c = 0; c < C; ++c) storeV(d + (f + 1) * DS + c * N, keepV(x1 * steady[c], keep[c]));
                sourceAcc = maxV(sourceAcc, absV<Float4, Int4>(loadV<Float4>(s + f * 2)));
            }
        }
        float sourcePeak = highest(sourceAcc);
#pragma GCC unroll 4
        for (; f < frames; ++f) {
            const V x = sourcePattern<V, I>(s + f * ss, ss);
            for (size_t c = 0; c < C; ++c) storeV(d + f * DS + c * N, keepV(x * steady[c], keep[c]));
            if (meter && ss == 2)
                sourcePeak = maxf(sourcePeak, maxf(__builtin_fabsf(s[f * 2]), __builtin_fabsf(s[f * 2 + 1])));
        }
        if (!meter) return 0.0f;
        return steadyPeak(main.t, ss == 2 ? sourcePeak : peakKernel(s, frames));
    }
    float mainGains[kBlock], phonesGains[kBlock];
    for (size_t f = 0; f < frames; f += kBlock) {
        const size_t count = frames - f < kBlock ? frames - f : kBlock;
        main.block(table, count, mainGains);
        if (phones) phones->block(table, count, phonesGains);
        for (size_t i = 0; i < count; ++i) {
            const V x = sourcePattern<V, I>(s + (f + i) * ss, ss);
            const V gm = splat<V>(mainGains[i]), gc = splat<V>(phones ? phonesGains[i] : 0.0f);
            for (size_t c = 0; c < C; ++c) {
                const V o = keepV(x * (ph[c] != 0 ? gc : gm), keep[c]);
                storeV(d + (f + i) * DS + c * N, o);
                if (meter) acc[c] = maxV(acc[c], keepV(absV<V, I>(o), metered[c]));
            }
        }
    }
    float peak = 0.0f;
    for (size_t c = 0; c < C; ++c) peak = maxf(peak, highest(acc[c]));
    return peak;
}

template <typename V, typename I>
bool tryPatternFrames(const LanePlan& p, const float* s, size_t ss, float* d, size_t ds, size_t frames, Run& main,
                      Run* phones, const RampTable& table, bool ramping, bool meter, float& peak) noexcept {
    constexpr size_t N = sizeof(V) / sizeof(float);
    switch (ds) {
    case N:
        peak = patternFrames<V, I, 1>(p, s, ss, d, frames, main, phones, table, ramping, meter);
        return true;
    case 2 * N:
        peak = patternFrames<V, I, 2>(p, s, ss, d, frames, main, phones, table, ramping, meter);
        return true;
    case 4 * N:
        peak = patternFrames<V, I, 4>(p, s, ss, d, frames, main, phones, table, ramping, meter);
        return true;
    case 8 * N:
        peak = patternFrames<V, I, 8>(p, s, ss, d, frames, main, phones, table, ramping, meter);
        return true;
    default:
        return false;
    }
}

// ---- General: averaging, sources of more than two channels, overlapping slices ----
// The per-frame layout is still decided once per slice, not per sample.

void sliceGeneral(const float* s, size_t ss, uint32_t sc, float* d, size_t ds, size_t frames, size_t start,
                  size_t width, Run& run, const RampTable& table) noexcept {
    float gains[kBlock];
    for (size_t f = 0; f < frames; f += kBlock) {
        const size_t count = frames - f < kBlock ? frames - f : kBlock;
        run.block(table, count, gains);
        for (size_t i = 0; i < count; ++i) {
            const float g = gains[i];
            const float* sf = s + (f + i) * ss;
            float* df = d + (f + i) * ds + start;
            if (ss == width) {
                for (size_t j = 0; j < width; ++j) df[j] = g * sf[j];
            } else if (width != 1) {
                const size_t copied = ss < width ? ss : width;
                for (size_t j = 0; j < copied; ++j) df[j] = g * sf[j];
                for (size_t j = copied; j < width; ++j) df[j] = sc > 1 ? 0.0f : g * sf[0];
            } else {
                float sum = 0.0f;
                for (size_t j = 0; j < ss; ++j) sum += sf[j];
                df[0] = g * (sum / static_cast<float>(ss));
            }
        }
    }
}

float slicePeak(const float* d, size_t ds, size_t frames, size_t start, size_t width) noexcept {
    float a = 0.0f, b = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        const float* df = d + f * ds + start;
        size_t j = 0;
        for (; j + 2 <= width; j += 2) {
            a = maxf(a, __builtin_fabsf(df[j]));
            b = maxf(b, __builtin_fabsf(df[j + 1]));
        }
        if (j < width) a = maxf(a, __builtin_fabsf(df[j]));
    }
    return maxf(a, b);
}

// ---- The call ----

inline bool lanesFit(const FrameJob& job, size_t ss, size_t ds, const ChannelSlice& m, const ChannelSlice* ph) {
    if (ss > 2 || ds > static_cast<size_t>(kMaxLaneChannels)) return false;
    if (ss == 2 && (m.count == 1 || (ph && ph->count == 1))) return false; // averaging
    if (ph && m.start < ph->start + ph->count && ph->start < m.start + m.count) return false;
    (void)job;
    return true;
}

void planSlice(LanePlan& p, const ChannelSlice& sl, size_t ss, bool isPhones, bool isMain, float steadyGain) noexcept {
    for (int j = 0; j < sl.count; ++j) {
        const size_t c = static_cast<size_t>(sl.start + j);
        // Slice channel j takes source channel j; a mono source fills the slice; a stereo one
        // leaves slice channels beyond its own silent.
        const bool silent = ss == 2 && j >= 2;
        p.right[c] = ss == 2 && j == 1 ? -1 : 0;
        p.phones[c] = isPhones ? -1 : 0;
        p.keep[c] = silent ? 0 : -1;
        p.own[c] = 0;
        p.metered[c] = isMain ? -1 : 0;
        p.steady[c] = silent ? 0.0f : steadyGain;
    }
}

FrameResult writeFramesKernel(const FrameJob& job) noexcept {
    const size_t ss = job.sourceChannels > 1 ? job.sourceChannels : 1;
    const size_t ds = job.destinationChannels > 1 ? job.destinationChannels : 1;
    const size_t frames = [&] {
        const size_t a = job.destinationSamples / ds, b = job.sourceSamples / ss;
        return a < b ? a : b;
    }();
    const RampTable& table = *job.ramp;
    const float k = table.k;
    BusRamp& mainRamp = *job.mainRamp;
    const ChannelSlice& m = job.main;
    const ChannelSlice* ph = job.phonesRamp ? &job.phones : nullptr;
    Run main(mainRamp), phones(job.phonesRamp ? *job.phonesRamp : mainRamp);
    const bool mainSteady = mainRamp.gain == mainRamp.target;
    const bool ramping = !mainSteady || (ph && job.phonesRamp->gain != job.phonesRamp->target);
    const float* s = job.source;
    float* d = job.destination;
    FrameResult result{frames, 0.0f};

    auto finish = [&] {
        main.end(mainRamp, k);
        if (ph) phones.end(*job.phonesRamp, k);
        if (job.silenceOthers && frames * ds < job.destinationSamples)
            __builtin_memset(d + frames * ds, 0, (job.destinationSamples - frames * ds) * sizeof(float));
        return result;
    };
    if (frames == 0) return finish();

    // The whole frame is the slice, channel for channel.
    if (!ph && m.start == 0 && static_cast<size_t>(m.count) == ds && ss == ds) {
        if (!ramping)
            result.peak = flatSteady(s, d, frames * ds, mainRamp.gain, job.meter);
        else if (ds == 1)
            result.peak = flatRampNarrow<1>(s, d, frames, main, table, job.meter);
        else if (ds == 2)
            result.peak = flatRampNarrow<2>(s, d, frames, main, table, job.meter);
        else
            result.peak = flatRampWide(s, d, frames, ds, main, table, job.meter);
        return finish();
    }

    if (lanesFit(job, ss, ds, m, ph)) {
        LanePlan p;
        for (size_t c = 0; c < ds; ++c) {
            p.right[c] = 0;
            p.phones[c] = 0;
            p.keep[c] = 0;
            p.own[c] = job.silenceOthers ? 0 : -1;
            p.metered[c] = 0;
            p.steady[c] = 0.0f;
        }
        planSlice(p, m, ss, false, true, mainRamp.gain);
        if (ph) planSlice(p, *ph, ss, true, false, job.phonesRamp->gain);
        // A steady MAIN peak is |gain| × the source's peak (both source channels reach MAIN).
        const bool foldMeter = job.meter && !mainSteady;
        const bool keepOwn = !job.silenceOthers;
        Run* phonesRun = ph ? &phones : nullptr;
        const bool ownParity = ss == 1 || (m.start % 2 == 0 && (!ph || ph->start % 2 == 0));
        float peak = 0.0f;
        // The patterned frames meter MAIN themselves, steady or not.
        if (!keepOwn && ownParity &&
            (tryPatternFrames<FloatW, IntW>(p, s, ss, d, ds, frames, main, phonesRun, table, ramping, job.meter,
                                            peak) ||
             tryPatternFrames<Float4, Int4>(p, s, ss, d, ds, frames, main, phonesRun, table, ramping, job.meter,
                                            peak))) {
            result.peak = peak;
            return finish();
        }
        peak = laneFrames<0>(p, s, ss, d, ds, frames, main, phonesRun, table, ramping, keepOwn, foldMeter);
        if (foldMeter)
            result.peak = peak;
        else if (job.meter)
            result.peak = steadyPeak(mainRamp.gain, peakKernel(s, frames * ss));
        return finish();
    }

    // General: the frames' other channels silenced first, then each slice written over them.
    if (job.silenceOthers) __builtin_memset(d, 0, frames * ds * sizeof(float));
    const auto start = static_cast<size_t>(m.start), width = static_cast<size_t>(m.count);
    sliceGeneral(s, ss, job.sourceChannels, d, ds, frames, start, width, main, table);
    if (ph)
        sliceGeneral(s, ss, job.sourceChannels, d, ds, frames, static_cast<size_t>(ph->start),
                     static_cast<size_t>(ph->count), phones, table);
    if (job.meter) result.peak = slicePeak(d, ds, frames, start, width);
    return finish();
}
