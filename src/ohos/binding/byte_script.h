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
// readBytes(a, start, end, out): for each i in [start, end), in order, reads
// a[i] once; a number whose ToUint32 is at most 255 goes to out[i - start].
// Returns undefined when every index was taken, [0, i, value] for the first
// element that was not, [1, i, exception] when reading a[i] threw, [2, start]
// without reading anything when out's buffer was already detached.
//
// writeBytes(a, start, end, src, base): a[i] = src[i - base] for each i in
// [start, end), in order (base <= start).
// Returns undefined when every index was stored, [1, i, exception] when
// storing a[i] threw (in strict code a failed [[Set]] throws too: the caller
// tells that TypeError apart), [2, i] when src[i - base] was no longer there
// to read (its buffer was detached).
#pragma once

#include <string_view>

namespace tarnwick::binding::byte_script {

constexpr std::string_view kSource = R"js((function () {
  'use strict';
  function readBytes(a, start, end, out) {
    out[0] = 0;
    if (out[0] !== 0) return [2, start];
    let i = start;
    try {
      for (; i < end; ++i) {
        const v = a[i];
        if (typeof v !== 'number') return [0, i, v];
        const b = v >>> 0;
        if (b > 255) return [0, i, v];
        out[i - start] = b;
      }
    } catch (e) {
      return [1, i, e];
    }
  }
  function writeBytes(a, start, end, src, base) {
    let i = start;
    try {
      for (; i < end; ++i) {
        const v = src[i - base];
        if (v === undefined) return [2, i];
        a[i] = v;
      }
    } catch (e) {
      return [1, i, e];
    }
  }
  return [readBytes, writeBytes];
})()
//# sourceURL=tarnwick:bytes
)js";

}  // namespace tarnwick::binding::byte_script
