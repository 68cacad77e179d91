// The moire filter's lane routines, written once over GCC vector types of N lanes. CMoireRows.cpp includes
// this file twice: as it is, for the plain and the AVX2 routines, and inside a region compiled for AVX-512,
// since vector code of sixteen lanes must be built for the processor that runs it before it is inlined.
// Include it nowhere else.
using Int4 = LONG __attribute__((vector_size(4 * sizeof(LONG))));

template <int N>
struct Lanes;
template <>
struct Lanes<4> {
    using V = LONG __attribute__((vector_size(4 * sizeof(LONG))));
    using F = float __attribute__((vector_size(4 * sizeof(float))));
};
template <>
struct Lanes<8> {
    using V = LONG __attribute__((vector_size(8 * sizeof(LONG))));
    using F = float __attribute__((vector_size(8 * sizeof(float))));
};
template <>
struct Lanes<16> {
    using V = LONG __attribute__((vector_size(16 * sizeof(LONG))));
    using F = float __attribute__((vector_size(16 * sizeof(float))));
};

// Half the lanes of N, as integers and as doubles.
template <int N>
struct Halves;
template <>
struct Halves<4> {
    using I = LONG __attribute__((vector_size(2 * sizeof(LONG))));
    using D = double __attribute__((vector_size(2 * sizeof(double))));
};
template <>
struct Halves<8> {
    using I = LONG __attribute__((vector_size(4 * sizeof(LONG))));
    using D = double __attribute__((vector_size(4 * sizeof(double))));
};
template <>
struct Halves<16> {
    using I = LONG __attribute__((vector_size(8 * sizeof(LONG))));
    using D = double __attribute__((vector_size(8 * sizeof(double))));
};

template <class V>
KV_INLINE V Load(const LONG* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
KV_INLINE void Store(LONG* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

template <class V, class T>
KV_INLINE V Splat(T value) {
    V v;
    for (std::size_t i = 0; i < sizeof v / sizeof v[0]; ++i)
        v[i] = value;
    return v;
}

// Comparisons give lanes of all ones or zero.
template <class V>
KV_INLINE V Select(V mask, V ifSet, V ifClear) {
    return (ifSet & mask) | (ifClear & ~mask);
}

template <class V>
KV_INLINE V Min(V a, V b) {
    return a > b ? b : a;
}

template <class V>
KV_INLINE V Max(V a, V b) {
    return a > b ? a : b;
}

// Four lanes by the sign (SSE2 has no signed maximum), more by the greater of a and -a.
template <class V>
KV_INLINE V Abs(V a) {
    if constexpr (sizeof(V) == sizeof(Int4)) {
        const V sign = a >> 31;
        return (a ^ sign) - sign;
    } else {
        return Max(a, -a);
    }
}

// Whether any lane of a comparison's result is set: four lanes by their byte signs, eight lanes (only
// ever in AVX2 routines) by one test of the whole register, sixteen (only in AVX-512 routines) into a mask.
KV_INLINE bool Any(Int4 mask) {
    return _mm_movemask_epi8(reinterpret_cast<__m128i>(mask)) != 0;
}

template <int N, class V>
KV_INLINE bool AnyOf(V mask) {
    static_assert(sizeof(V) == N * sizeof(LONG));
    if constexpr (N == 4) {
        return Any(mask);
    } else if constexpr (N == 8) {
        bool any;
        asm("vptest %1, %1" : "=@ccnz"(any) : "x"(mask));
        return any;
    } else {
        static_assert(N == 16);
        unsigned short set;
        asm("vptestmd %1, %1, %0" : "=k"(set) : "v"(mask));
        return set != 0;
    }
}

// The ratio test in single precision first: e - f times a bound is worked out with an error below
// f x 2^-21 for e and f below 2^21 (the bound's rounding to a float, the product's and the difference's),
// so a result beyond f x kRatioMargin has the sign of the exact one, and of the double quotient's test,
// which can differ from the exact one only closer still. A lane passes when the smaller of its two
// results lies above the margin and fails when it lies below minus the margin; when a taken lane lies
// within it (integer ratios come that close to a bound only for large f), the taken lanes are decided by
// the scalar walk's own test, the double quotient against the double bounds, in lanes of doubles.
constexpr float kRatioMargin = 1.0f / (1 << 18);

// The float bounds and margin, made once per row.
template <int N>
struct RatioBounds {
    typename Lanes<N>::F lower;
    typename Lanes<N>::F upper;
    typename Lanes<N>::F margin;
    double exactLower;
    double exactUpper;
};

template <int N>
KV_INLINE RatioBounds<N> MakeRatioBounds() {
    using F = typename Lanes<N>::F;
    return {Splat<F>(static_cast<float>(LowerRatio())), Splat<F>(static_cast<float>(UpperRatio())),
            Splat<F>(kRatioMargin), LowerRatio(), UpperRatio()};
}

// The lanes whose e / f, worked out in double precision as the scalar walk does, lies strictly between
// the bounds; lanes with f zero (never taken) divide by one instead. Each half of the lanes is divided in
// one register of doubles; IEEE division rounds alike in lanes and alone.
template <int N>
KV_INLINE typename Lanes<N>::V ExactInside(typename Lanes<N>::V e, typename Lanes<N>::V f, double lower,
                                           double upper) {
    using V = typename Lanes<N>::V;
    using Half = typename Halves<N>::I;
    using D = typename Halves<N>::D;
    const V divisor = Select<V>(f == Splat<V>(0), Splat<V>(1), f);
    const auto inside = [&](Half a, Half b) KV_INLINE_LAMBDA {
        const D q = __builtin_convertvector(a, D) / __builtin_convertvector(b, D);
        return __builtin_convertvector((q > Splat<D>(lower)) & (q < Splat<D>(upper)), Half);
    };
    Half eHalves[2];
    Half fHalves[2];
    std::memcpy(eHalves, &e, sizeof e);
    std::memcpy(fHalves, &divisor, sizeof divisor);
    const Half first = inside(eHalves[0], fHalves[0]);
    const Half second = inside(eHalves[1], fHalves[1]);
    V both;
    std::memcpy(&both, &first, sizeof first);
    std::memcpy(reinterpret_cast<char*>(&both) + sizeof first, &second, sizeof second);
    return both;
}

template <int N>
KV_INLINE typename Lanes<N>::V RatioInside(typename Lanes<N>::V taken, typename Lanes<N>::V e,
                                           typename Lanes<N>::V f, const RatioBounds<N>& bounds) {
    using V = typename Lanes<N>::V;
    using F = typename Lanes<N>::F;
    const F ef = __builtin_convertvector(e, F);
    const F ff = __builtin_convertvector(f, F);
    const F overLower = ef - ff * bounds.lower;
    const F underUpper = ff * bounds.upper - ef;
    const F least = overLower < underUpper ? overLower : underUpper;
    const F margin = ff * bounds.margin;
    const V inside = least > margin;
    // Within the margin either way: the magnitude, the sign bit cleared.
    const V near = reinterpret_cast<F>(reinterpret_cast<V>(least) & Splat<V>(0x7FFFFFFF)) <= margin;
    if (AnyOf<N>(taken & near)) [[unlikely]]
        return taken & ExactInside<N>(e, f, bounds.exactLower, bounds.exactUpper);
    return taken & inside;
}

// (a / b) truncated, for |a| below 2^24 and b at least 1: a float quotient of such integers truncates to
// the integer quotient.
template <int N>
KV_INLINE typename Lanes<N>::V Quotient(typename Lanes<N>::V a, typename Lanes<N>::V b) {
    using F = typename Lanes<N>::F;
    return __builtin_convertvector(__builtin_convertvector(a, F) / __builtin_convertvector(b, F),
                                   typename Lanes<N>::V);
}

// The block bounds of n columns whose kBlock points lie at p[0][x] .. p[3][x].
template <int N>
KV_INLINE void BoundsAlong(const LONG* const (&p)[kBlock], LONG n, LONG* least, LONG* greatest) {
    using V = typename Lanes<N>::V;
    using F = typename Lanes<N>::F;
    LONG x = 0;
    if constexpr (sizeof(V) == sizeof(Int4)) {
        // SSE2 has no 32-bit minimum or maximum: smoothed luminance (0 .. 2^24) is exact as a float, whose
        // minimum and maximum it has.
        for (; x + N <= n; x += N) {
            F a = __builtin_convertvector(Load<V>(p[0] + x), F);
            F b = a;
            for (int i = 1; i < kBlock; ++i) {
                const F v = __builtin_convertvector(Load<V>(p[i] + x), F);
                a = v < a ? v : a;
                b = v > b ? v : b;
            }
            Store(least + x, __builtin_convertvector(a, V));
            Store(greatest + x, __builtin_convertvector(b, V));
        }
    }
    for (; x + N <= n; x += N) {
        V a = Load<V>(p[0] + x);
        V b = a;
        for (int i = 1; i < kBlock; ++i) {
            const V v = Load<V>(p[i] + x);
            a = Min(a, v);
            b = Max(b, v);
        }
        Store(least + x, a);
        Store(greatest + x, b);
    }
    for (; x < n; ++x) {
        LONG a = p[0][x];
        LONG b = a;
        for (int i = 1; i < kBlock; ++i) {
            a = std::min(a, p[i][x]);
            b = std::max(b, p[i][x]);
        }
        least[x] = a;
        greatest[x] = b;
    }
}

template <int N>
KV_INLINE void BoundsOf(const LONG* const* rows, LONG count, LONG* const* least, LONG* const* greatest) {
    constexpr LONG kLast = kBlock - 1;
    for (int a = 0; a < kAxes; ++a) {
        const int dx = kAxisSteps[a][0];
        const int dy = kAxisSteps[a][1];
        // The column of the block's first point: its last lies kLast * dx to the side.
        const LONG first = dx < 0 ? kLast : 0;
        const LONG n = count - (dx != 0 ? kLast : 0);
        if (n <= 0)
            continue;
        const LONG* p[kBlock];
        for (int i = 0; i < kBlock; ++i)
            p[i] = rows[i * dy] + first + i * dx;
        BoundsAlong<N>(p, n, least[a] + first, greatest[a] + first);
    }
}

// The 3 x 3 binomial sums of three rows, count values from their second column on: the columns' sums
// (1 2 1 down) of a stretch of the rows first, each once, then the sums across (1 2 1) of three
// neighbouring columns' from those; summing the three columns of every output afresh read each column
// three times. The stretch's column sums are all stored before the first is read back, so no load waits
// on stores still in flight that it straddles.
constexpr LONG kSmoothStretch = 256;

template <int N>
KV_INLINE void SmoothOf(const LONG* const* rows, LONG count, LONG* out) {
    using V = typename Lanes<N>::V;
    const LONG* a = rows[0];
    const LONG* b = rows[1];
    const LONG* c = rows[2];
    LONG columns[kSmoothStretch + 2];
    for (LONG start = 0; start < count; start += kSmoothStretch) {
        const LONG n = std::min(kSmoothStretch, count - start);
        // Columns start .. start + n + 1 of the rows.
        const LONG width = n + 2;
        LONG k = 0;
        for (; k + N <= width; k += N) {
            const V middle = Load<V>(b + start + k);
            Store(columns + k, Load<V>(a + start + k) + middle + middle + Load<V>(c + start + k));
        }
        for (; k < width; ++k)
            columns[k] = a[start + k] + 2 * b[start + k] + c[start + k];
        LONG* to = out + start;
        for (k = 0; k + N <= n; k += N) {
            const V middle = Load<V>(columns + k + 1);
            Store(to + k, Load<V>(columns + k) + middle + middle + Load<V>(columns + k + 2));
        }
        for (; k < n; ++k)
            to[k] = columns[k] + 2 * columns[k + 1] + columns[k + 2];
    }
}

// Levels within kNarrowLevels of 10 on luminance below kNarrowLuma (all that 16-bit samples give) keep 4 x
// luminance x (level - 10) within 32 bits, so the thresholds are worked out in 32-bit lanes, the
// divisions by constants becoming products; other rows take the 64-bit routine.
constexpr LONG kNarrowLevels = 127;
constexpr LONG kNarrowLuma = 1 << 22;

template <int N>
KV_INLINE void ThresholdsOf(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3) {
    using V = typename Lanes<N>::V;
    const LONG scale = level - 10;
    if (count < N || scale < -kNarrowLevels || scale > kNarrowLevels) {
        Thresholds(luma, count, level, t1, t2, t3);
        return;
    }
    // Every luminance lies within 0 .. kNarrowLuma - 1 when no bit above those of kNarrowLuma - 1 is set in
    // any (a negative one has its sign bit set): one OR over the row, by lanes.
    V bits = Splat<V>(0);
    LONG x = 0;
    for (; x + N <= count; x += N)
        bits |= Load<V>(luma + x);
    bits |= Load<V>(luma + count - N);
    bool narrow = true;
    for (int i = 0; i < N; ++i)
        narrow = narrow && (bits[i] & ~(kNarrowLuma - 1)) == 0;
    if (!narrow) {
        Thresholds(luma, count, level, t1, t2, t3);
        return;
    }
    LONG bright[3];
    Thresholds(&kBrightLuminance, 1, level, &bright[0], &bright[1], &bright[2]);
    const V brightFirst = Splat<V>(bright[0]);
    const V brightSecond = Splat<V>(bright[1]);
    const V brightThird = Splat<V>(bright[2]);
    const V threshold = Splat<V>(kBrightLuminance - 1);
    auto group = [&](LONG x) KV_INLINE_LAMBDA {
        const V l = Load<V>(luma + x);
        const V c = l * scale;
        const V first = c / 120 + 163840;
        const V third = (((4 * c) / 120) / 3) / 4 + 40960;
        const V isBright = l > threshold;
        Store(t1 + x, Select<V>(isBright, brightFirst, first));
        Store(t2 + x, Select<V>(isBright, brightSecond, first / 5));
        Store(t3 + x, Select<V>(isBright, brightThird, third));
    };
    for (x = 0; x + N <= count; x += N)
        group(x);
    if (x < count)
        group(count - N);
}

// Green from the luminance and the differences, and the three samples clamped, in lanes into the
// differences' rows and green's; then stored sample by sample, as taking lanes out of registers one by one
// costs more than reading them back.
template <int N>
KV_INLINE void PixelsOf(const LONG* luma, LONG* red, LONG* blue, LONG* green, LONG count, BYTE* out) {
    using V = typename Lanes<N>::V;
    const V zero = Splat<V>(0);
    const V top = Splat<V>(65535);
    auto clamp = [&](V v) KV_INLINE_LAMBDA { return Min(Max(v, zero), top); };
    LONG x = 0;
    for (; x + N <= count; x += N) {
        const V dr = Load<V>(red + x);
        const V db = Load<V>(blue + x);
        const V g = (Load<V>(luma + x) - dr - db) / 4;
        Store(red + x, clamp(dr + g));
        Store(green + x, clamp(g));
        Store(blue + x, clamp(db + g));
    }
    for (; x < count; ++x) {
        const LONG g = (luma[x] - red[x] - blue[x]) / 4;
        red[x] = std::clamp<LONG>(red[x] + g, 0, 65535);
        green[x] = std::clamp<LONG>(g, 0, 65535);
        blue[x] = std::clamp<LONG>(blue[x] + g, 0, 65535);
    }
    // Sample by sample: small stores into one local read back wider stall on every pixel.
    auto sample = [](BYTE* at, LONG value) KV_INLINE_LAMBDA {
        const WORD v = static_cast<WORD>(value);
        std::memcpy(at, &v, sizeof v);
    };
    for (x = 0; x < count; ++x) {
        BYTE* pixel = out + static_cast<std::size_t>(x) * 3 * sizeof(WORD);
        sample(pixel, red[x]);
        sample(pixel + sizeof(WORD), green[x]);
        sample(pixel + 2 * sizeof(WORD), blue[x]);
    }
}

// The eight directions as an axis and a sense, in the order up-left, up, up-right, right, down-right, down,
// down-left, left.
struct Direction {
    int axis;
    int sense;
};
constexpr Direction kAlong[8] = {{2, -1}, {1, -1}, {3, -1}, {0, 1}, {2, 1}, {1, 1}, {3, 1}, {0, -1}};

// N pixels from x on, each lane walking on its own: a lane whose walk has ended is masked off, and a
// direction ends when every lane's walk has.
template <int N>
KV_INLINE void WalkGroup(const WalkRow& row, LONG x, const RatioBounds<N>& ratios) {
    using V = typename Lanes<N>::V;
    const LONG c = x + kSteps;
    const V luma = Load<V>(row.luma[kSteps] + c);
    const V red = Load<V>(row.red[kSteps] + c);
    const V blue = Load<V>(row.blue[kSteps] + c);
    const V t1 = Load<V>(row.t1 + x);
    const V t2 = Load<V>(row.t2 + x);
    const V t3 = Load<V>(row.t3 + x);
    // Luminance and thresholds stay within 2^22 and 2^30: these bounds do not overflow.
    const V low = luma - t1;
    const V high = luma + t1;
    const V nearLow = luma - t2;
    const V nearHigh = luma + t2;
    const V zero = Splat<V>(0);
    V found = zero;
    V sumRed = zero;
    V sumBlue = zero;
    // Unrolled, every row and column offset below is a constant.
#pragma GCC unroll 8
    for (const Direction& along : kAlong) {
        const int dx = kAxisSteps[along.axis][0] * along.sense;
        const int dy = kAxisSteps[along.axis][1] * along.sense;
        V walking = ~zero;
#pragma GCC unroll 4
        for (LONG k = kBlock; k <= kSteps; k += kBlock) {
            // The block's points are steps k - kBlock + 1 .. k; its bounds are kept from the end that lies
            // first along the axis.
            const LONG from = along.sense > 0 ? k - kBlock + 1 : -k;
            const LONG r = kSteps + from * kAxisSteps[along.axis][1];
            const LONG p = c + from * kAxisSteps[along.axis][0];
            const V least = Load<V>(row.least[along.axis][r] + p);
            const V greatest = Load<V>(row.greatest[along.axis][r] + p);
            walking &= ~((low > least) | (greatest > high));
            if (!AnyOf<N>(walking))
                break;
            const LONG pr = kSteps + k * dy;
            const LONG pc = c + k * dx;
            const V e = Abs(blue - Load<V>(row.blue[pr] + pc));
            const V pointRed = Load<V>(row.red[pr] + pc);
            const V f = Abs(red - pointRed);
            const V point = Load<V>(row.luma[pr] + pc);
            // f is not zero where the point's red difference is not the pixel's.
            V taken = walking & (point > nearLow) & (nearHigh > point) & (t3 > e + f) & ~(pointRed == red);
            if (!AnyOf<N>(taken))
                continue;
            taken = RatioInside<N>(taken, e, f, ratios);
            sumRed += taken & Load<V>(row.ownRed[pr] + pc);
            sumBlue += taken & Load<V>(row.ownBlue[pr] + pc);
            found -= taken;
        }
    }
    const V ownRed = Load<V>(row.ownRed[kSteps] + c);
    const V ownBlue = Load<V>(row.ownBlue[kSteps] + c);
    const V many = found > Splat<V>(3);
    const V divisor = found + Splat<V>(1);
    Store(row.outRed + x, Select<V>(many, Quotient<N>(ownRed + sumRed, divisor), ownRed));
    Store(row.outBlue + x, Select<V>(many, Quotient<N>(ownBlue + sumBlue, divisor), ownBlue));
}

// Groups of N cover the row, the last one ending at its end and done again where it overlaps the group
// before; rows narrower than a group take the scalar routine.
template <int N>
KV_INLINE void WalkRows(const WalkRow& row) {
    if (row.count < N) {
        ScalarWalk(row);
        return;
    }
    const RatioBounds<N> ratios = MakeRatioBounds<N>();
    LONG x = 0;
    for (; x + N <= row.count; x += N)
        WalkGroup<N>(row, x, ratios);
    if (x < row.count)
        WalkGroup<N>(row, row.count - N, ratios);
}

// Samples read through a type that may alias anything and needs no alignment.
using LooseWord = WORD __attribute__((aligned(1), may_alias));

// The split of a row: a plain loop over the samples, which the AVX2 and AVX-512 routines that inline it
// have the compiler vectorize (three-way interleaved samples take permutes it picks for its processor).
KV_INLINE void SplitOf(const BYTE* pixels, LONG count, LONG* __restrict luma, LONG* __restrict red,
                       LONG* __restrict blue) {
    const LooseWord* sample = reinterpret_cast<const LooseWord*>(pixels);
    for (LONG x = 0; x < count; ++x) {
        const LONG r = sample[3 * x];
        const LONG g = sample[3 * x + 1];
        const LONG b = sample[3 * x + 2];
        luma[x] = r + 2 * g + b;
        red[x] = r - g;
        blue[x] = b - g;
    }
}
