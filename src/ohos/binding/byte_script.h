// The script that converts byte data at JavaScript speed, compiled once per
// environment by byte_runner.cpp.
//
// It names no global and calls no method, so nothing that user code can
// replace (Array, Uint8Array, Reflect, Symbol.iterator, prototype methods,
// the typed arrays' length getter) is consulted: only syntax and the
// arguments native code passes. The loops call no function of the script's
// own, so the stack is only ever deeper than the element loop's by the frame
// of the entry point itself; an overflow on entry escapes before any element
// is touched. Everything that can run user code sits inside a try.
//
// readBytes(a, start, end, out) is strict, so neither .caller, .arguments
// nor a CallSite's getFunction() hands a getter its buffer `out`. For each i
// in [start, end), in order, it reads a[i] once; a number whose ToUint32 is
// at most 255 goes to out[i - start]. It returns `end` when every index was
// taken, [0, i, value] for the first element that was not, [1, i, exception]
// when reading a[i] threw, and [2, i] when bytes it stored before index i
// are gone: `out` no longer has a buffer (a detached buffer drops every
// store and reads back undefined), so they went with it.
//
// writeBytes(a, start, end, src) stores a[i] = src[i - start] for each i in
// [start, end), in order. It is a sloppy function, so that a [[Set]] that
// fails (a read-only or setter-less index, a non-extensible array, a proxy's
// trap answering false) is ignored as napi_set_element ignores it, while
// whatever a setter or trap throws comes out as it was thrown; an arrow
// function, which has no .arguments, so a setter that gets hold of it
// through .caller or getFunction() sees no argument of it. It returns `end`
// when every index was stored, [1, i, exception] when storing a[i] threw,
// and [2, i] when src[i - start] was no longer there to read (its buffer
// was detached).
#pragma once

#include <string_view>

namespace tarnwick::binding::byte_script {

constexpr std::string_view kSource = R"js((function () {
  const writeBytes = (a, start, end, src) => {
    let i = start;
    try {
      for (; i < end; ++i) {
        const v = src[i - start];
        if (v === undefined) return [2, i];
        a[i] = v;
      }
    } catch (e) {
      return [1, i, e];
    }
    return end;
  };
  function readBytes(a, start, end, out) {
    'use strict';
    let i = start, r = end;
    try {
      for (; i < end; ++i) {
        const v = a[i];
        if (typeof v !== 'number' || v >>> 0 > 255) {
          r = [0, i, v];
          break;
        }
        out[i - start] = v >>> 0;
      }
    } catch (e) {
      r = [1, i, e];
    }
    return i > start && out[0] === undefined ? [2, i] : r;
  }
  return [readBytes, writeBytes];
})()
//# sourceURL=tarnwick:bytes
)js";

}  // namespace tarnwick::binding::byte_script
