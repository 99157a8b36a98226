'use strict';
// Byte data in and byte results out, as JavaScript sees them. Short arrays
// are converted element by element through Node-API, longer ones by a script
// the module compiles once per environment; both must behave the same. The
// file runs three times: here against the module, then (last test) again in
// child processes against the fault-injection build, once with the script
// refused (TARNWICK_FAULT=napi_run_script:), so that every length goes
// element by element, and once with every second call of the script failing
// on entry (napi_call_function:even), so that conversions go on element by
// element from wherever the script stopped.
//
// Expected bytes come from node:crypto's SM4-OFB and from ToUint32 computed
// with BigInt arithmetic; expected errors are the documented texts.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const path = require('node:path');
const vm = require('node:vm');
const { spawnSync, execFileSync } = require('node:child_process');
const { m, modulePath, throwsWith } = require('./helpers');

// Which way long arrays go: 'script', 'elements' or 'mixed'.
const PATH = process.env.TARNWICK_BYTES_PATH || 'script';

const KEY = Buffer.alloc(16, 0x11);
const IV = Buffer.alloc(16, 0x22);
const key64 = KEY.toString('base64');
const iv64 = IV.toString('base64');

// Lengths on both sides of the script's threshold (a single element goes
// element by element, two or more through the script), and across the
// script's 64 KiB window.
const SHORT = 1;
const LONG = 1000;
const HUGE = 65536 + 100;
const LENGTHS = [SHORT, LONG, HUGE];

// enc converts `data` in and n bytes out: SM4-OFB keeps the length.
const enc = (data) => m.symEncrypt(m.SymAlgorithm.SM4OFB, data, key64, iv64);

function sm4ofb(bytes) {
  const c = crypto.createCipheriv('sm4-ofb', KEY, IV);
  return [...Buffer.concat([c.update(Buffer.from(bytes)), c.final()])];
}

// filler is a plain array of `n` bytes.
const filler = (n) => Array.from({ length: n }, (_, i) => (i * 7 + 1) & 0xff);

// takes asserts that the module read `data` as exactly `bytes`.
function takes(data, bytes, label) {
  const got = enc(data);
  assert.equal(got.length, bytes.length, label);
  assert.deepEqual(got, sm4ofb(bytes), label);
}

// ECMAScript ToUint32 by BigInt arithmetic, independent of the engine's.
function toUint32(v) {
  if (!Number.isFinite(v)) return 0;
  const m32 = 2n ** 32n;
  return Number(((BigInt(Math.trunc(v)) % m32) + m32) % m32);
}

const u8Error = (type) => `Failed to convert napi value ${type} into rust type \`u8\``;
const TOO_BIG = 'Failed to convert u32 to u8';

// positions returns (length, index) pairs: an element alone, last, in the
// middle, early and in the second window.
const positions = () => [[SHORT, 0], [2, 1], [LONG, 600], [HUGE, 10], [HUGE, 65600]];

test('only plain arrays are byte data', () => {
  const notArrays = [
    new Uint8Array([1, 2, 3, 4, 5]), Buffer.from('abcdef'), new ArrayBuffer(8), new Proxy(filler(LONG), {}),
    { length: 5, 0: 1, 1: 2, 2: 3, 3: 4, 4: 5 }, 'abcde', 5, null, undefined, new Map(),
    vm.runInNewContext('new Uint8Array(10)'), vm.runInNewContext('new Proxy([1, 2, 3, 4, 5], {})'),
  ];
  for (const v of notArrays) throwsWith(() => enc(v), 'InvalidArg', 'Given napi value is not an array');
  // A typed array's own elements are never read.
  const spy = new Uint8Array(LONG);
  Object.defineProperty(spy, 'length', { get() { throw new Error('read'); } });
  throwsWith(() => enc(spy), 'InvalidArg', 'Given napi value is not an array');
});

test('plain, holey, cross-realm and empty arrays of bytes', () => {
  for (const n of LENGTHS) {
    const data = filler(n);
    takes(data, data, `packed ${n}`);
    const holey = new Array(n);
    for (let i = 0; i < n; i++) holey[i] = data[i];
    takes(holey, data, `holey ${n}`);
    const doubles = data.map((b) => b + 0.25);
    takes(doubles, data, `doubles ${n}`);
    const foreign = vm.runInNewContext(`Array.from({ length: ${n} }, (_, i) => (i * 7 + 1) & 0xff)`);
    takes(foreign, data, `other realm ${n}`);
  }
  throwsWith(() => enc([]), 'InvalidArg', 'plaintext is empty');
  // Extra named properties are not elements.
  takes(Object.assign(filler(LONG), { foo: 300, '-1': 'x', 1.5: 'y' }), filler(LONG));
});

test('numbers are taken by ToUint32 and must be at most 255', () => {
  const numbers = [0, 1, 255, 255.999, -0, 0.5, -0.5, -0.999, NaN, Infinity, -Infinity, Number.MIN_VALUE,
    -Number.MIN_VALUE, 2 ** 32, 2 ** 32 + 5, 2 ** 32 + 255, 2 ** 32 + 256, -(2 ** 32) + 3, -(2 ** 32) - 1, -1,
    -255, 256, 2 ** 31, 2 ** 53, 2 ** 53 + 2, 1e21, 1e21 + 2 ** 20, 1e308, -1e308, 4294967295.5, 4294967551];
  for (const v of numbers) {
    const expected = toUint32(v);
    for (const [n, at] of positions()) {
      const data = filler(n);
      data[at] = v;
      const label = `${v} at ${at} of ${n}`;
      if (expected <= 255) {
        const bytes = filler(n);
        bytes[at] = expected;
        takes(data, bytes, label);
      } else {
        throwsWith(() => enc(data), 'GenericFailure', TOO_BIG);
      }
    }
  }
});

test('anything but a number fails with its type name', () => {
  const values = [
    ['1', 'String'], ['', 'String'], [null, 'Null'], [undefined, 'Undefined'], [true, 'Boolean'],
    [1n, 'BigInt'], [Symbol('s'), 'Unknown'], [{}, 'Object'], [[1], 'Object'], [new Number(1), 'Object'],
    [() => 1, 'Function'], [new Uint8Array(1), 'Object'], [{ valueOf() { throw new Error('coerced'); } }, 'Object'],
    [new Proxy({}, { get() { throw new Error('trapped'); } }), 'Object'],
  ];
  for (const [v, type] of values) {
    for (const [n, at] of positions()) {
      const data = filler(n);
      data[at] = v;
      throwsWith(() => enc(data), 'NumberExpected', u8Error(type));
    }
  }
  // The first failing element decides, whatever follows it.
  for (const n of [3, LONG]) {
    const data = filler(n);
    data[1] = 'x';
    data[2] = 300;
    throwsWith(() => enc(data), 'NumberExpected', u8Error('String'));
    data[1] = 300;
    data[2] = 'x';
    throwsWith(() => enc(data), 'GenericFailure', TOO_BIG);
  }
});

// withIndex installs `descriptor` at index `k` of `proto` for the duration of fn.
function withIndex(proto, k, descriptor, fn) {
  Object.defineProperty(proto, k, { configurable: true, ...descriptor });
  try {
    return fn();
  } finally {
    delete proto[k];
  }
}

// attempt runs fn and returns its value or what it threw, so that nothing of
// node's own (assert, Buffer, errors' stack text) runs while a test has put
// indexed properties on the prototypes.
function attempt(fn) {
  try {
    return { value: fn() };
  } catch (e) {
    return { error: e };
  }
}

function assertThrew(outcome, code, message) {
  assert.ok(outcome.error instanceof Error, `expected an Error, got ${String(outcome.error)}`);
  assert.equal(outcome.error.code, code);
  assert.equal(outcome.error.message, message);
}

test('holes read through the prototype chain', () => {
  for (const [n, at] of positions()) {
    const data = filler(n);
    delete data[at];
    throwsWith(() => enc(data), 'NumberExpected', u8Error('Undefined'));
    let receivers = '';
    const viaGetter = withIndex(Array.prototype, at, { get() { receivers += this === data; return 9; } },
      () => attempt(() => enc(data)));
    const bytes = filler(n);
    bytes[at] = 9;
    // The same inherited getter-only index leaves a hole in the result.
    const expected = sm4ofb(bytes);
    delete expected[at];
    assert.deepEqual(viaGetter.value, expected);
    assert.equal(receivers, 'true');
    const viaObject = withIndex(Object.prototype, at, { value: 'p', writable: true }, () => attempt(() => enc(data)));
    assertThrew(viaObject, 'NumberExpected', u8Error('String'));
  }
});

test('every index is read once, in order, and reading stops at the first failure', () => {
  for (const n of LENGTHS) {
    for (const failAt of [-1, Math.max(0, n - 5)]) {
      // Every element is a hole read through a proxy in the prototype chain:
      // the log holds every [[Get]] and every other trap.
      const log = [];
      const data = new Array(n);
      const proto = new Proxy(Array.prototype, {
        get(t, k, receiver) {
          if (typeof k === 'string' && /^\d+$/.test(k)) {
            assert.equal(receiver, data);
            log.push(Number(k));
            return Number(k) === failAt ? 'x' : Number(k) & 0xff;
          }
          return Reflect.get(t, k, receiver);
        },
        has(t, k) { log.push(`has ${String(k)}`); return Reflect.has(t, k); },
        getOwnPropertyDescriptor(t, k) { log.push(`gopd ${String(k)}`); return Reflect.getOwnPropertyDescriptor(t, k); },
      });
      Object.setPrototypeOf(data, proto);
      const count = failAt < 0 ? n : failAt + 1;
      if (failAt < 0) {
        takes(data, Array.from({ length: n }, (_, i) => i & 0xff), `proxied ${n}`);
      } else {
        throwsWith(() => enc(data), 'NumberExpected', u8Error('String'));
      }
      assert.equal(log.length, count, `reads of ${n}`);
      assert.ok(log.every((k, i) => k === i), `order of ${n}`);
    }
  }
});

test('own getters run once each, with the array as receiver', () => {
  for (const n of LENGTHS) {
    const data = filler(n);
    const calls = new Map();
    const indices = new Set([0, 1, n >> 1, n - 1].filter((i) => i < n));
    for (const i of indices) {
      const value = filler(n)[i];
      Object.defineProperty(data, i, {
        enumerable: true,
        get() { assert.equal(this, data); calls.set(i, (calls.get(i) || 0) + 1); return value; },
      });
    }
    takes(data, filler(n), `getters ${n}`);
    assert.deepEqual([...calls.keys()], [...indices]);
    assert.ok([...calls.values()].every((c) => c === 1));
  }
});

test('an exception from a getter passes through unchanged; later elements are not read', () => {
  for (const [n, at] of positions()) {
    for (const thrown of [new Error('boom'), new TypeError('t'), 5, 'text', undefined, null, Symbol('s')]) {
      const data = filler(n);
      const reads = [];
      if (at > 0) Object.defineProperty(data, 0, { get() { reads.push('first'); return 1; } });
      Object.defineProperty(data, at, { get() { reads.push('throwing'); throw thrown; } });
      if (at + 1 < n) Object.defineProperty(data, at + 1, { get() { reads.push('later'); return 1; } });
      let caught = 'nothing thrown';
      try {
        enc(data);
      } catch (e) {
        caught = e;
      }
      assert.equal(caught, thrown, `${String(thrown)} at ${at} of ${n}`);
      assert.deepEqual(reads, at > 0 ? ['first', 'throwing'] : ['throwing']);
    }
  }
  // An element of a foreign realm that throws there.
  const foreign = vm.runInNewContext('const a = Array(2000).fill(1); Object.defineProperty(a, 1500, { get() { throw new RangeError("far"); } }); a');
  assert.throws(() => enc(foreign), (e) => e.message === 'far' && !(e instanceof RangeError));
});

test('the length is read once: getters that change the array', () => {
  for (const [n, at] of positions()) {
    // Growing: elements past the first length are not read.
    const grown = filler(n);
    Object.defineProperty(grown, at, { configurable: true, get() { for (let i = 0; i < 100; i++) grown.push('x'); return 3; } });
    const bytes = filler(n);
    bytes[at] = 3;
    takes(grown, bytes, `growing ${n}`);
    if (at + 1 === n) continue;
    // Shrinking: the later indices are holes and read as undefined.
    const cut = filler(n);
    Object.defineProperty(cut, at, { configurable: true, get() { cut.length = at + 1; return 1; } });
    throwsWith(() => enc(cut), 'NumberExpected', u8Error('Undefined'));
    // Changing a later element is seen; changing an earlier one is not.
    const later = filler(n);
    Object.defineProperty(later, at, { configurable: true, get() { later[at + 1] = 300; later[0] = 'x'; return 4; } });
    throwsWith(() => enc(later), 'GenericFailure', TOO_BIG);
  }
});

test('a huge claimed length is not allocated', () => {
  const before = process.memoryUsage().rss;
  for (const prefix of [0, 3, 70000]) {
    const data = filler(prefix);
    data.length = 2 ** 32 - 1;
    throwsWith(() => enc(data), 'NumberExpected', u8Error('Undefined'));
  }
  // Holes answered by the prototype, for as long as the getter allows.
  const data = [];
  data.length = 2 ** 32 - 1;
  let reads = 0;
  Object.setPrototypeOf(data, new Proxy(Array.prototype, {
    get(t, k, r) {
      if (typeof k === 'string' && /^\d+$/.test(k)) {
        if (++reads > 140000) throw new Error('enough');
        return 1;
      }
      return Reflect.get(t, k, r);
    },
  }));
  assert.throws(() => enc(data), /enough/);
  assert.equal(reads, 140001);
  assert.ok(process.memoryUsage().rss - before < 256 * 2 ** 20);
});

test('results are new plain arrays of numbers from the module realm', () => {
  for (const n of LENGTHS) {
    const data = filler(n);
    const a = enc(data);
    const b = enc(data);
    assert.notEqual(a, b);
    assert.ok(Array.isArray(a));
    assert.equal(Object.getPrototypeOf(a), Array.prototype);
    assert.equal(a.length, n);
    assert.ok(Object.isExtensible(a));
    assert.deepEqual(Object.keys(a).length, n);
    assert.ok(a.every((v, i) => typeof v === 'number' && Number.isInteger(v) && v >= 0 && v <= 255 &&
      Object.getOwnPropertyDescriptor(a, i).writable));
    a[0] ^= 1;
    a.length = 1;
    assert.deepEqual(enc(data), b);
    // Called from another realm, with that realm's array: the result still
    // belongs to the module's realm.
    const r = vm.runInNewContext(`enc(Array.from({ length: ${n} }, (_, i) => (i * 7 + 1) & 0xff))`, { enc });
    assert.equal(Object.getPrototypeOf(r), Array.prototype);
    assert.deepEqual(r, b);
  }
});

test('results are written with [[Set]]: inherited setters fire in order on the new array', () => {
  for (const n of LENGTHS) {
    const expected = sm4ofb(filler(n));
    for (const proto of [Array.prototype, Object.prototype]) {
      // Appended without [[Set]], which the setters below would catch.
      const log = [];
      const append = (entry) => Object.defineProperty(log, log.length, { value: entry, enumerable: true });
      const ks = [...new Set([0, n >> 1, n - 1])];
      const install = (i) => {
        Object.defineProperty(proto, ks[i], {
          configurable: true,
          get() { return 'inherited'; },
          set(v) { append([ks[i], v, Array.isArray(this), this.length]); },
        });
      };
      ks.forEach((_, i) => install(i));
      let r;
      try {
        r = enc(filler(n));
      } finally {
        for (const k of ks) delete proto[k];
      }
      assert.deepEqual(log, ks.map((k) => [k, expected[k], true, n]));
      for (const k of ks) assert.ok(!Object.hasOwn(r, k));
      assert.equal(r.length, n);
      assert.deepEqual(r.filter((_, i) => !ks.includes(i)), expected.filter((_, i) => !ks.includes(i)));
    }
    // A read-only or setter-less inherited index leaves a hole, silently.
    const k = n - 1;
    for (const descriptor of [{ value: 'ro', writable: false }, { get() { return 'getter only'; } }]) {
      const r = withIndex(Array.prototype, k, descriptor, () => enc(filler(n)));
      assert.ok(!Object.hasOwn(r, k));
      assert.equal(r.length, n);
      assert.deepEqual(r.slice(0, k), expected.slice(0, k));
    }
  }
});

test('a [[Set]] that fails is ignored, as a sloppy assignment ignores it', () => {
  // The expected array is built by the engine itself: the same stores, made
  // by sloppy code into an array with the same prototype chain.
  const sloppyStore = new Function('a', 'i', 'v', 'a[i] = v;');
  const expectedFor = (n) => {
    const e = new Array(n);
    const bytes = sm4ofb(filler(n));
    for (let i = 0; i < n; i++) sloppyStore(e, i, bytes[i]);
    return e;
  };
  const setups = {
    'a setter that makes the result non-extensible': (k) => {
      Object.defineProperty(Array.prototype, k, { configurable: true, set() { Object.preventExtensions(this); } });
      return () => delete Array.prototype[k];
    },
    'a proxy whose set trap refuses one index': (k) => {
      const original = Object.getPrototypeOf(Array.prototype);
      Object.setPrototypeOf(Array.prototype, new Proxy(original, {
        set: (t, key, v, r) => (key === String(k) ? false : Reflect.set(t, key, v, r)),
      }));
      return () => Object.setPrototypeOf(Array.prototype, original);
    },
  };
  for (const [name, setup] of Object.entries(setups)) {
    for (const [n, at] of positions()) {
      let undo = setup(at);
      const got = attempt(() => enc(filler(n)));
      const expected = attempt(() => expectedFor(n));
      undo();
      undo = null;
      assert.equal(got.error, undefined, `${name}, ${at} of ${n}`);
      assert.equal(got.value.length, n);
      assert.deepEqual(Object.keys(got.value), Object.keys(expected.value), `${name}, ${at} of ${n}`);
      assert.deepEqual(got.value, expected.value, `${name}, ${at} of ${n}`);
    }
  }
});

test('an exception from a setter passes through unchanged after the earlier writes', () => {
  for (const [n, at] of positions()) {
    for (const thrown of [new Error('set'), new TypeError('set'), 7, undefined]) {
      let writes = '';
      let target;
      const arm = (k, fn) => Object.defineProperty(Array.prototype, k, { configurable: true, set: fn });
      if (at > 0) arm(0, function () { target = this; writes += 'first '; });
      arm(at, function () { target = this; writes += 'throwing '; throw thrown; });
      if (at + 1 < n) arm(at + 1, () => { writes += 'later '; });
      let caught = 'nothing thrown';
      try {
        enc(filler(n));
      } catch (e) {
        caught = e;
      } finally {
        for (const k of [0, at, at + 1]) delete Array.prototype[k];
      }
      assert.equal(caught, thrown);
      assert.equal(writes, at > 0 ? 'first throwing ' : 'throwing ');
      assert.equal(target.length, n);
      // Every index between the first and the throwing one was written.
      const expected = sm4ofb(filler(n));
      for (const k of [1, at - 1].filter((k) => k > 0 && k < at)) assert.equal(target[k], expected[k]);
      assert.ok(!Object.hasOwn(target, at) && !Object.hasOwn(target, at + 1));
    }
  }
});

test('a TypeError from a setter passes through, even one that reads like a failed [[Set]]', () => {
  const frozen = Object.freeze({ x: 1 });
  const cases = {
    // The engine's own words for a failed [[Set]], thrown by user code.
    forged: (k) => () => { throw new TypeError(`Cannot set property ${k} of [object Array] which has only a getter`); },
    // A strict setter whose own assignment fails.
    'strict own store': () => function () { 'use strict'; frozen.x = 2; },
    // A message that user code reads out itself.
    'message getter': () => () => {
      const e = new TypeError('t');
      Object.defineProperty(e, 'message', { get() { throw new Error('message was read'); } });
      throw e;
    },
  };
  for (const [name, make] of Object.entries(cases)) {
    for (const [n, at] of positions()) {
      const outcome = withIndex(Array.prototype, at, { set: make(at) }, () => attempt(() => enc(filler(n))));
      assert.ok(outcome.error instanceof TypeError, `${name}, ${at} of ${n}: ${outcome.value ? 'returned' : 'threw'}`);
      assert.equal(Object.hasOwn(outcome.error, 'code'), false, `${name}, ${at} of ${n}`);
    }
  }
});

test('getters and setters may call back into the module', () => {
  for (const n of LENGTHS) {
    const inner = filler(n + 3).reverse();
    const data = filler(n);
    let fromGetter;
    Object.defineProperty(data, n >> 1, { get() { fromGetter = enc(inner); return 9; } });
    const bytes = filler(n);
    bytes[n >> 1] = 9;
    if (process.env.TARNWICK_FAULT === 'detach:' && PATH === 'script' && n > SHORT) {
      // The inner call's Node-API calls detach the outer call's buffer while
      // its script is reading, as user code could there: those bytes are gone.
      throwsWith(() => enc(data), 'GenericFailure', 'Byte data was lost while it was read');
    } else {
      takes(data, bytes);
    }
    assert.deepEqual(fromGetter, sm4ofb(inner));
    // The setter catches the inner result's write at the same index too, and
    // ignores it, leaving a hole there.
    let fromSetter;
    let inside = false;
    const set = (v) => {
      if (inside) return;
      inside = true;
      fromSetter = [v, enc(inner)];
      inside = false;
    };
    const r = withIndex(Array.prototype, n - 1, { set }, () => enc(filler(n)));
    const innerExpected = sm4ofb(inner);
    delete innerExpected[n - 1];
    assert.deepEqual(fromSetter, [sm4ofb(filler(n))[n - 1], innerExpected]);
    assert.equal(r.length, n);
  }
});

test('long arrays take the script, short ones go element by element', () => {
  // A getter sees the frames that read it.
  const readers = (n) => {
    let stack = '';
    const data = filler(n);
    Object.defineProperty(data, 0, { get() { stack = new Error().stack; return 1; } });
    enc(data);
    return stack.includes('tarnwick:bytes');
  };
  const writers = (n) => {
    let error;
    withIndex(Array.prototype, 0, { set() { error = new Error(); } }, () => enc(filler(n)));
    return error.stack.includes('tarnwick:bytes');
  };
  assert.equal(readers(SHORT), false);
  assert.equal(writers(SHORT), false);
  if (PATH !== 'mixed') {
    assert.equal(readers(LONG), PATH === 'script');
    assert.equal(writers(LONG), PATH === 'script');
  }
});

test('nothing of the script but its writer reaches a getter or setter, and the writer shows no argument', () => {
  // Sloppy functions, which may ask for their caller and see every frame's
  // function and receiver through the stack trace API. They append without
  // [[Set]], which the setter would catch. The writer is sloppy (so that a
  // failed [[Set]] is ignored as napi_set_element ignores it) and so may be
  // the setter's caller; it is an arrow function, whose arguments cannot be
  // read.
  const makeProbe = new Function('record', `
    const append = (list, v) => Object.defineProperty(list, list.length, { value: v, enumerable: true });
    return function probe(v) {
      append(record.callers, probe.caller);
      const prepare = Error.prepareStackTrace;
      Error.prepareStackTrace = (e, sites) => sites;
      const sites = new Error().stack;
      Error.prepareStackTrace = prepare;
      for (const s of sites) {
        if (s.getScriptNameOrSourceURL() === 'tarnwick:bytes') append(record.frames, { fn: s.getFunction(), self: s.getThis() });
      }
      return 1;
    };`);
  const unreadable = (fn) => {
    for (const property of ['arguments', 'caller']) {
      assert.throws(() => fn[property], TypeError, `${fn.name}.${property}`);
    }
  };
  for (const n of LENGTHS) {
    const record = { callers: [], frames: [] };
    const probe = makeProbe(record);
    const data = filler(n);
    Object.defineProperty(data, n - 1, { get: probe });
    withIndex(Array.prototype, n - 1, { set: probe }, () => attempt(() => enc(data)));
    assert.equal(record.callers.length, 2);
    const [getterCaller, setterCaller] = record.callers;
    assert.equal(getterCaller, null, `${n}`);
    if (setterCaller !== null) unreadable(setterCaller);
    for (const { fn, self } of record.frames) {
      if (fn !== undefined) unreadable(fn);
      assert.ok(self === undefined || self === globalThis, `${n}: ${Object.prototype.toString.call(self)}`);
    }
    if (PATH === 'script' && n > SHORT) {
      assert.equal(typeof setterCaller, 'function', `${n}`);
      assert.equal(record.frames.length, 2, `${n}`);
    }
  }
});

// probeDepths converts `n` elements at each depth from the deepest that an
// empty recursion reaches up to `span` levels above it, the deepest first
// (so the script is made there, from a cold start). A string of one digit
// per level: 1 when the conversion returned, 2 when it threw, 0 when the
// recursion itself could not get that deep. Interpreted code only, so that
// frame sizes stay the same while the child probes.
function probeDepths(module, fault, n, span) {
  const script = `'use strict';
    const m = require(process.env.TARNWICK_MODULE);
    const key = ${JSON.stringify(key64)};
    const iv = ${JSON.stringify(iv64)};
    const enc = (d) => m.symEncrypt(m.SymAlgorithm.SM4OFB, d, key, iv);
    const data = []; for (let i = 0; i < ${n}; i++) data[i] = (i * 7 + 1) & 0xff;
    function dive(d, fn) { return d === 0 ? fn() : dive(d - 1, fn) + 0; }
    let lo = 0, hi = 1 << 20;
    while (lo < hi) { const mid = (lo + hi + 1) >> 1; try { dive(mid, () => 0); lo = mid; } catch { hi = mid - 1; } }
    let out = '';
    for (let off = 0; off <= ${span}; off++) {
      let r = 0;
      try { r = dive(lo - off, () => { try { enc(data); return 1; } catch { return 2; } }); } catch { r = 0; }
      out += r;
    }
    // Afterwards, higher up, the script is in use (unless refused).
    const probe = data.slice();
    let stack = '';
    Object.defineProperty(probe, 0, { get() { stack = new Error().stack; return 1; } });
    enc(probe);
    console.log(JSON.stringify({ out, script: stack.includes('tarnwick:bytes') }));`;
  return JSON.parse(execFileSync(process.execPath, ['--jitless', '-e', script], {
    env: { ...process.env, TARNWICK_MODULE: module, TARNWICK_FAULT: fault },
    stdio: ['ignore', 'pipe', 'pipe'], // --jitless warns that it turns WebAssembly off
    encoding: 'utf8',
    timeout: 120000,
  }));
}

test('near the stack limit the script converts wherever the element loop does', { skip: PATH !== 'script' || process.env.TARNWICK_FAULT !== undefined }, () => {
  const faultsModule = process.env.TARNWICK_FAULTS_MODULE ||
    path.join(__dirname, '..', '..', 'build', 'tarnwick_faults.node');
  const span = 700;
  for (const n of [2, 16, 1000, 70000]) {
    const viaScript = probeDepths(modulePath, '', n, span);
    const viaElements = probeDepths(faultsModule, 'napi_run_script:', n, span);
    assert.equal(viaScript.script, true, `${n}`);
    assert.equal(viaElements.script, false, `${n}`);
    assert.match(viaElements.out, /^[02]+1/, `${n}: the probe did not start beyond the limit`);
    for (let off = 0; off <= span; off++) {
      if (viaElements.out[off] === '1') {
        assert.equal(viaScript.out[off], '1', `${n} elements, ${off} levels above the limit:\n${viaScript.out}\n${viaElements.out}`);
      }
    }
  }
});

// A child process with a fresh module: `body` runs with `m`, `enc`, `filler`
// and `record` in scope and prints its observation as JSON.
function inChild(prelude, body) {
  const script = `'use strict';
    ${prelude}
    const m = require(process.env.TARNWICK_MODULE);
    const key = ${JSON.stringify(key64)};
    const iv = ${JSON.stringify(iv64)};
    const enc = (d) => m.symEncrypt(m.SymAlgorithm.SM4OFB, d, key, iv);
    const filler = (n) => { const a = []; for (let i = 0; i < n; i++) a[a.length] = (i * 7 + 1) & 0xff; return a; };
    ${body}`;
  return JSON.parse(execFileSync(process.execPath, [...process.execArgv, '-e', script], {
    env: { ...process.env, TARNWICK_MODULE: modulePath },
    encoding: 'utf8',
    timeout: 60000,
    maxBuffer: 64 * 2 ** 20,
  }));
}

test('globals and prototypes replaced before the module loads are never consulted', () => {
  const prelude = `
    const stringify = JSON.stringify;
    const log = [];
    let recording = false;
    const record = (name) => { if (recording) log[log.length] = name; };
    const spy = (obj, name) => {
      const original = obj[name];
      Object.defineProperty(obj, name, { configurable: true, writable: true,
        value: function (...args) { record(String(name)); return Reflect.apply(original, this, args); } });
    };
    for (const name of ['push', 'slice', 'map', 'fill', 'set', 'forEach', Symbol.iterator]) spy(Array.prototype, name);
    for (const name of ['set', 'fill', 'subarray', Symbol.iterator]) spy(Object.getPrototypeOf(Uint8Array.prototype), name);
    for (const name of ['call', 'apply', 'bind']) spy(Function.prototype, name);
    for (const name of ['Uint8Array', 'Array', 'Math', 'Number', 'Reflect', 'Object', 'Symbol', 'ArrayBuffer',
      'Error', 'TypeError', 'RangeError', 'Function', 'JSON']) {
      const value = globalThis[name];
      Object.defineProperty(globalThis, name, { configurable: true, get() { record('global ' + name); return value; } });
    }
    // Node's own code needs these two back before it prints.
    Object.defineProperty(Object.prototype, 'then', { configurable: true, get() { record('then'); } });
    Object.defineProperty(Object.prototype, 'length', { configurable: true, get() { record('length'); } });
    const untamper = () => { delete Object.prototype.then; delete Object.prototype.length; };
  `;
  const body = `
    const inputs = [filler(3), filler(1000), filler(70000)];
    const bad = filler(1000); bad[900] = 'x';
    const getter = filler(1000);
    Object.defineProperty(getter, 10, { get() { return 5; } });
    recording = true;
    const out = [];
    for (let i = 0; i < inputs.length; i++) out[i] = enc(inputs[i]);
    let failure;
    try { enc(bad); } catch (e) { failure = e.code + ': ' + e.message; }
    const viaGetter = enc(getter);
    recording = false;
    untamper();
    console.log(stringify({ log, out, failure, viaGetter }));`;
  const r = inChild(prelude, body);
  assert.deepEqual(r.log, []);
  assert.deepEqual(r.out, [filler(3), filler(1000), filler(70000)].map(sm4ofb));
  assert.equal(r.failure, `NumberExpected: ${u8Error('String')}`);
  const bytes = filler(1000);
  bytes[10] = 5;
  assert.deepEqual(r.viaGetter, sm4ofb(bytes));
});

test('globals replaced after first use are not consulted either', () => {
  const log = [];
  const saved = { Uint8Array, push: Array.prototype.push, iterator: Array.prototype[Symbol.iterator] };
  enc(filler(LONG));
  globalThis.Uint8Array = function () { log.push('Uint8Array'); };
  Array.prototype.push = function () { log.push('push'); }; // eslint-disable-line no-extend-native
  Array.prototype[Symbol.iterator] = function () { log.push('iterator'); }; // eslint-disable-line no-extend-native
  let r;
  try {
    r = LENGTHS.map((n) => enc(filler(n)));
  } finally {
    globalThis.Uint8Array = saved.Uint8Array;
    Array.prototype.push = saved.push; // eslint-disable-line no-extend-native
    Array.prototype[Symbol.iterator] = saved.iterator; // eslint-disable-line no-extend-native
  }
  assert.deepEqual(log, []);
  assert.deepEqual(r, LENGTHS.map((n) => sm4ofb(filler(n))));
});

test('several environments on one thread, and worker threads, each convert on their own', () => {
  // A second load on this thread is a second environment.
  const second = { exports: {} };
  process.dlopen(second, modulePath);
  const m2 = second.exports;
  const enc2 = (d) => m2.symEncrypt(m2.SymAlgorithm.SM4OFB, d, key64, iv64);
  for (const n of LENGTHS) {
    const data = filler(n);
    const inner = [];
    Object.defineProperty(data, n >> 1, { get() { inner.push(enc2(filler(n))); return 7; } });
    const bytes = filler(n);
    bytes[n >> 1] = 7;
    assert.deepEqual(enc(data), sm4ofb(bytes));
    assert.deepEqual(inner[0], sm4ofb(filler(n)));
    assert.equal(Object.getPrototypeOf(enc2(filler(n))), Array.prototype);
  }
  // A load from code running in another context.
  const fromVm = vm.runInNewContext(`
    const mod = { exports: {} };
    process.dlopen(mod, path);
    const m3 = mod.exports;
    [1, 1000].map((n) => m3.symEncrypt(m3.SymAlgorithm.SM4OFB, Array.from({ length: n }, (_, i) => (i * 7 + 1) & 0xff), key, iv));`,
  { process, path: modulePath, key: key64, iv: iv64 });
  // The module's environment belongs to the main context, as its results do.
  for (const [i, n] of [1, 1000].entries()) assert.deepEqual(fromVm[i], sm4ofb(filler(n)));
  // Workers load, convert and go away, several at once and one after another.
  const r = inChild('', `
    const { Worker } = require('worker_threads');
    const src = 'const { parentPort } = require("worker_threads");' +
      'const m = require(process.env.TARNWICK_MODULE);' +
      'const enc = (d) => m.symEncrypt(m.SymAlgorithm.SM4OFB, d, ' + JSON.stringify(key) + ', ' + JSON.stringify(iv) + ');' +
      'const out = []; for (const n of [3, 1000, 70000]) { const a = []; for (let i = 0; i < n; i++) a.push((i * 7 + 1) & 0xff);' +
      ' for (let k = 0; k < 20; k++) enc(a); out.push(enc(a)); }' +
      'const bad = Array(1000).fill(1); Object.defineProperty(bad, 700, { get() { throw 42; } });' +
      'try { enc(bad); } catch (e) { out.push(e); }' +
      'parentPort.postMessage(out);';
    const run = (count) => Promise.all(Array.from({ length: count }, () => new Promise((resolve, reject) => {
      const w = new Worker(src, { eval: true });
      w.once('message', resolve);
      w.once('error', reject);
    })));
    (async () => {
      const all = [...await run(4), ...await run(1), ...await run(2)];
      console.log(JSON.stringify(all));
    })();`);
  const expected = [...[3, 1000, 70000].map((n) => sm4ofb(filler(n))), 42];
  assert.equal(r.length, 7);
  for (const out of r) assert.deepEqual(out, expected);
});

// Last: the same file against the fault-injection build. The child is a
// test run of its own: without NODE_TEST_CONTEXT, which `node --test` sets
// and which would make the child skip every file and exit 0. Its TAP summary
// must show that it ran tests and that none failed.
test('the same cases with the script refused or failing on entry', { skip: process.env.TARNWICK_BYTES_PATH !== undefined }, () => {
  const faultsModule = process.env.TARNWICK_FAULTS_MODULE ||
    path.join(__dirname, '..', '..', 'build', 'tarnwick_faults.node');
  const { NODE_TEST_CONTEXT, ...env } = process.env; // eslint-disable-line no-unused-vars
  const runs = [['napi_run_script:', 'elements'], ['napi_call_function:even', 'mixed'], ['detach:', 'script', '--expose-gc']];
  for (const [fault, way, ...flags] of runs) {
    const r = spawnSync(process.execPath, [...flags, '--test', '--test-reporter=tap', __filename], {
      env: { ...env, TARNWICK_MODULE: faultsModule, TARNWICK_FAULT: fault, TARNWICK_BYTES_PATH: way },
      encoding: 'utf8',
      timeout: 300000,
    });
    const log = `${fault}\n${r.stdout}\n${r.stderr}`;
    const count = (name) => Number((r.stdout.match(new RegExp(`^# ${name} (\\d+)$`, 'm')) || [])[1]);
    assert.equal(r.status, 0, log);
    assert.ok(count('tests') > 0, log);
    assert.equal(count('fail'), 0, log);
    assert.equal(count('pass'), count('tests') - count('skipped'), log);
  }
});
