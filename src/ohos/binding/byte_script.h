// The script that converts byte data at JavaScript speed, compiled once per
// environment by byte_runner.cpp.
//
// It names no global and calls no method, so nothing that user code can
// replace (Array, Uint8Array, Reflect, Symbol.iterator, prototype methods) is
// consulted: only syntax and the arguments native code passes. Every function
// is strict, so neither .caller, .arguments nor a CallSite's getFunction()
// hands a getter or setter any of them. The loops call no function of the
// script's own, so the stack is only ever deeper than the element loop's by
// the frame of the entry point itself; an overflow on entry escapes before
// any element is touched. Everything that can run user code sits inside a
// try.
//
// Both loops also sum what they handled, keyed by two seeds s0 and s1 below
// 2^30: the elements go in pairs from `start` (a last one alone), the pairs
// take four xorshift32 states in turn, starting at s0, s1, s0 ⊕ 0x6a09e667
// and s1 ⊕ 0xbb67ae85 (never 0, as the seeds are not), and each pair steps its
// state once and adds its bytes as a 16-bit number (the first one high)
// times the state's top 22 bits to the sum. The sum lives only in locals, so
// user code that overwrites the buffer mid-call cannot make it agree with
// the bytes (native code redoes the sum over what it takes or meant to
// store). A call covers at most 2^15 pairs, so the sum stays below 2^53,
// exact in a double. Four states, not one, let native code run four steps
// at once.
//
// readBytes(a, start, end, out, s0, s1): for each i in [start, end), in order,
// reads a[i] once; a number whose ToUint32 is at most 255 goes to
// out[i - start]. Returns the sum when every index was taken,
// [0, i, value, sum] for the first element that was not, [1, i, exception,
// sum] when reading a[i] threw, [2, start] without reading anything when
// out's buffer was already detached. The sum covers [start, i).
//
// writeBytes(a, start, end, src, base, s0, s1): a[i] = src[i - base] for each
// i in [start, end), in order (base <= start), summing the values stored.
// Returns the sum when every index was stored, [1, i, exception, sum] when
// storing a[i] threw (in strict code a failed [[Set]] throws too: the caller
// tells that TypeError apart), [2, i, undefined, sum] when src[i - base] was
// no longer there to read (its buffer was detached). The sum covers
// [start, i).
#pragma once

#include <string_view>

namespace tarnwick::binding::byte_script {

constexpr std::string_view kSource = R"js((function () {
  'use strict';
  function readBytes(a, start, end, out, s0, s1) {
    out[0] = 0;
    if (out[0] !== 0) return [2, start];
    let i = start, x = s0 | 0, y = s1 | 0, z = s0 ^ 0x6a09e667, q = s1 ^ 0xbb67ae85, acc = 0, b = 0;
    try {
      while (i + 1 < end) {
        const v = a[i];
        if (typeof v !== 'number') return [0, i, v, acc];
        b = v >>> 0;
        if (b > 255) return [0, i, v, acc];
        out[i - start] = b;
        ++i;
        const w = a[i];
        if (typeof w !== 'number' || w >>> 0 > 255) {
          x ^= x << 13;
          x ^= x >>> 17;
          x ^= x << 5;
          return [0, i, w, acc + b * (x >>> 10)];
        }
        out[i - start] = w >>> 0;
        ++i;
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        acc += (b << 8 | w >>> 0) * (x >>> 10);
        const t = x;
        x = y;
        y = z;
        z = q;
        q = t;
      }
      if (i < end) {
        const v = a[i];
        if (typeof v !== 'number') return [0, i, v, acc];
        b = v >>> 0;
        if (b > 255) return [0, i, v, acc];
        out[i - start] = b;
        ++i;
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        acc += b * (x >>> 10);
      }
    } catch (e) {
      return [1, i, e, acc];
    }
    return acc;
  }
  function writeBytes(a, start, end, src, base, s0, s1) {
    let i = start, x = s0 | 0, y = s1 | 0, z = s0 ^ 0x6a09e667, q = s1 ^ 0xbb67ae85, acc = 0, v = 0;
    try {
      while (i < end) {
        v = src[i - base];
        if (v === undefined) return [2, i, v, acc];
        a[i] = v;
        ++i;
        if (i === end) break;
        const w = src[i - base];
        if (w === undefined) break;
        a[i] = w;
        ++i;
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        acc += (v << 8 | w) * (x >>> 10);
        const t = x;
        x = y;
        y = z;
        z = q;
        q = t;
      }
      if (((i - start) & 1) === 0) return i === end ? acc : [2, i, undefined, acc];
    } catch (e) {
      if (((i - start) & 1) === 0) return [1, i, e, acc];
      x ^= x << 13;
      x ^= x >>> 17;
      x ^= x << 5;
      return [1, i, e, acc + v * (x >>> 10)];
    }
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    acc += v * (x >>> 10);
    return i === end ? acc : [2, i, undefined, acc];
  }
  return [readBytes, writeBytes];
})()
//# sourceURL=tarnwick:bytes
)js";

}  // namespace tarnwick::binding::byte_script
