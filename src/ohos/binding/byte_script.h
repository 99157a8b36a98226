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
// Both loops also sum what they handled, keyed by `seed`: a xorshift32
// state starts at seed, takes one step per element, and the element's byte
// times the state's top 26 bits is added to the sum. The sum lives only in
// locals, so user code that overwrites the buffer mid-call cannot make it
// agree with the bytes (native code redoes the sum over what it takes or
// meant to store). Products stay below 2^34 and a call covers at most 2^16
// elements, so the sum is exact in a double.
//
// readBytes(a, start, end, out, seed): for each i in [start, end), in order,
// reads a[i] once; a number whose ToUint32 is at most 255 goes to
// out[i - start]. Returns the sum when every index was taken,
// [0, i, value, sum] for the first element that was not, [1, i, exception,
// sum] when reading a[i] threw, [2, start] without reading anything when
// out's buffer was already detached. The sum covers [start, i).
//
// writeBytes(a, start, end, src, base, seed): a[i] = src[i - base] for each
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
  function readBytes(a, start, end, out, seed) {
    out[0] = 0;
    if (out[0] !== 0) return [2, start];
    let i = start, x = seed | 0, acc = 0;
    try {
      for (; i < end; ++i) {
        const v = a[i];
        if (typeof v !== 'number') return [0, i, v, acc];
        const b = v >>> 0;
        if (b > 255) return [0, i, v, acc];
        out[i - start] = b;
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        acc += b * (x >>> 6);
      }
    } catch (e) {
      return [1, i, e, acc];
    }
    return acc;
  }
  function writeBytes(a, start, end, src, base, seed) {
    let i = start, x = seed | 0, acc = 0;
    try {
      for (; i < end; ++i) {
        const v = src[i - base];
        if (v === undefined) return [2, i, v, acc];
        a[i] = v;
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        acc += v * (x >>> 6);
      }
    } catch (e) {
      return [1, i, e, acc];
    }
    return acc;
  }
  return [readBytes, writeBytes];
})()
//# sourceURL=tarnwick:bytes
)js";

}  // namespace tarnwick::binding::byte_script
