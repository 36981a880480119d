/* Chain-only kernels: each runs just the loop-carried arithmetic of one
 * indicator, in the same order and precision, over precomputed per-bar
 * inputs, and writes nothing per element. The time of a kernel is the floor
 * that the indicator's own arithmetic allows; the gap to the indicator's time
 * is everything else (checks, stores, off-chain arithmetic, call overhead).
 *
 * Built by the harness with the extension's floating-point flags, so fma()
 * compiles exactly as it does there. Every kernel returns its final state,
 * which the harness keeps, so the compiler cannot drop the chain.
 */
#include <math.h>
#include <stdint.h>

/* Window sum with NaN-free input: add the entering, then subtract the leaving. */
float chain_window_sum(const float *x, int64_t n, int32_t p) {
    float s = 0.0f;
    for (int64_t i = p; i < n; ++i) {
        s = s + x[i];
        s = s - x[i - p];
    }
    return s;
}

/* Two independent window sums (gains and losses), each add-then-subtract. */
float chain_window_sum2(const float *a, const float *b, int64_t n, int32_t p) {
    float s = 0.0f, t = 0.0f;
    for (int64_t i = p; i < n; ++i) {
        s = s + a[i];
        s = s - a[i - p];
        t = t + b[i];
        t = t - b[i - p];
    }
    return s + t;
}

/* Running sum and sum of squares moved by a precomputed difference each. */
float chain_sum_squares(const float *x, int64_t n, int32_t p) {
    float s = 0.0f, q = 0.0f;
    for (int64_t i = p; i < n; ++i) {
        const float a = x[i], b = x[i - p];
        s = s + (a - b);
        q = q + (a * a - b * b);
    }
    return s + q;
}

/* Six window sums (three periods, two series), each moved by one difference. */
float chain_six_sums(const float *bp, const float *tr, int64_t n, int32_t ps, int32_t pm, int32_t pl) {
    float bs = 0.0f, ts = 0.0f, bm = 0.0f, tm = 0.0f, bl = 0.0f, tl = 0.0f;
    for (int64_t i = pl; i < n; ++i) {
        bs = bs + (bp[i] - bp[i - ps]);
        ts = ts + (tr[i] - tr[i - ps]);
        bm = bm + (bp[i] - bp[i - pm]);
        tm = tm + (tr[i] - tr[i - pm]);
        bl = bl + (bp[i] - bp[i - pl]);
        tl = tl + (tr[i] - tr[i - pl]);
    }
    return bs + ts + bm + tm + bl + tl;
}

/* Regression sums: the weighted sum is moved by a term that depends on the
 * running sum of the window without its first value. */
float chain_regression(const float *x, int64_t n, int32_t p) {
    const float pf = (float)p;
    float sum_y = 0.0f, sum_xy = 0.0f, deduction = 0.0f;
    for (int64_t i = 0; i + p + 1 < n; ++i) {
        const float in = x[i + p], out = x[i];
        sum_y = sum_y + (in - out);
        sum_xy = sum_xy + ((in * pf - out) - deduction);
        deduction = deduction + (in - x[i + 1]);
    }
    return sum_y + sum_xy + deduction;
}

/* EMA: float32 state widened, one double fused multiply-add, narrowed. */
float chain_ema(const float *x, int64_t n, float alpha) {
    const double c = 1.0 - (double)alpha;
    float v = x[0];
    for (int64_t i = 1; i < n; ++i) {
        const float q = alpha * x[i];
        v = (float)fma(c, (double)v, (double)q);
    }
    return v;
}

/* Two Wilder totals carried as period x average: t = t + (g - t / p). */
float chain_totals(const float *gain, const float *loss, int64_t n, int32_t p) {
    const float pf = (float)p;
    float g = 0.0f, l = 0.0f;
    for (int64_t i = 1; i < n; ++i) {
        g = g + (gain[i] - g / pf);
        l = l + (loss[i] - l / pf);
    }
    return g + l;
}

/* Wilder averages over k series at once: a = fmaf(a, p - 1, v) / p. */
float chain_wilder(const float *a, const float *b, const float *c, int32_t k, int64_t n, int32_t p) {
    const float w = (float)(p - 1), t = (float)p;
    float x = 0.0f, y = 0.0f, z = 0.0f;
    if (k == 1) {
        for (int64_t i = 1; i < n; ++i) x = fmaf(x, w, a[i]) / t;
    } else {
        for (int64_t i = 1; i < n; ++i) {
            x = fmaf(x, w, a[i]) / t;
            y = fmaf(y, w, b[i]) / t;
            z = fmaf(z, w, c[i]) / t;
        }
    }
    return x + y + z;
}

/* Highest-high and lowest-low position queues: expiry, then push with pops,
 * stored linearly in caller-provided int32 arrays of n slots. */
float chain_queues(const float *high, const float *low, int32_t *hq, int32_t *lq, int64_t n, int32_t p) {
    int64_t hs = 0, he = 0, ls = 0, le = 0;
    float acc = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        if (hs < he && hq[hs] <= i - p) ++hs;
        if (ls < le && lq[ls] <= i - p) ++ls;
        const float h = high[i], l = low[i];
        while (he > hs && high[hq[he - 1]] <= h) --he;
        hq[he++] = (int32_t)i;
        while (le > ls && low[lq[le - 1]] >= l) --le;
        lq[le++] = (int32_t)i;
    }
    if (he > hs) acc += high[hq[hs]];
    if (le > ls) acc += low[lq[ls]];
    return acc;
}
