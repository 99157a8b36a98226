'use strict';
// Differential fuzz of byte data in and byte results out. Every generated
// scenario runs against the module and against the fault-injection build
// with the conversion script refused, which converts every element through
// Node-API one at a time. Both must give the same result or thrown value,
// make the same getter, setter and trap calls in the same order, and leave
// the same objects behind. Where a scenario's bytes are known (no accessor,
// hole, proxy or bad value in play), node:crypto checks the bytes as well.
//
// TARNWICK_FUZZ_SEED replays a run (its seed is in every failure message),
// TARNWICK_FUZZ_COUNT sets the number of scenarios, TARNWICK_FUZZ_ONLY runs
// one scenario of the run.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const path = require('node:path');
const vm = require('node:vm');

const build = path.join(__dirname, '..', '..', 'build');
const fastPath = process.env.TARNWICK_MODULE || path.join(build, 'tarnwick.node');
const refPath = process.env.TARNWICK_FAULTS_MODULE || path.join(build, 'tarnwick_faults.node');

// The faults build reads this at every call; the module ignores it.
process.env.TARNWICK_FAULT = 'napi_run_script:';

// A build being replaced underneath us fails to load for a moment.
function load(file) {
  for (let tries = 1; ; tries++) {
    try {
      return require(file);
    } catch (e) {
      if (tries === 6) throw e;
      Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 3000);
    }
  }
}
const F = load(fastPath);
const R = load(refPath);

const SEED = process.env.TARNWICK_FUZZ_SEED !== undefined
  ? Number(process.env.TARNWICK_FUZZ_SEED) >>> 0 : crypto.randomInt(2 ** 32);
const COUNT = Number(process.env.TARNWICK_FUZZ_COUNT || 4000);
const ONLY = process.env.TARNWICK_FUZZ_ONLY === undefined ? -1 : Number(process.env.TARNWICK_FUZZ_ONLY);
// The first scenarios leave the realms' prototypes alone: once an index is
// defined on any realm's Array.prototype or Object.prototype, V8 takes its
// slower element paths for good.
const PRISTINE = Math.floor(COUNT / 5);

// mulberry32; a scenario's generator depends only on the run's seed and its number.
function prng(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (n) => Math.floor(next() * n);
  return { int, chance: (q) => next() < q, pick: (list) => list[int(list.length)] };
}
const scenarioSeed = (i) => (Math.imul(SEED ^ 0x5bd1e995, 0x27d4eb2d) + Math.imul(i + 1, 0x9e3779b1)) >>> 0;

const toUint32 = (v) => {
  if (!Number.isFinite(v)) return 0;
  const m32 = 2n ** 32n;
  return Number(((BigInt(Math.trunc(v)) % m32) + m32) % m32);
};

// ---- fixed material: keys, ciphertexts and signatures, made once ----

const setupRng = prng(SEED ^ 0xa5a5a5a5);
const bytesOf = (rng, n) => Array.from({ length: n }, () => rng.int(256));
const SYM = Object.keys(F.SymAlgorithm);
const KEYS = {};
const KEY_BYTES = {};
for (const name of SYM) {
  KEY_BYTES[name] = Buffer.from(bytesOf(setupRng, name.startsWith('AES256') ? 32 : 16));
  KEYS[name] = KEY_BYTES[name].toString('base64');
}
const IV_BYTES = Buffer.from(bytesOf(setupRng, 16));
const IV = IV_BYTES.toString('base64');
const RSA = F.asymGenerateKey(F.AsymAlgorithm.RSA, 2048);
const SM2 = F.asymGenerateKey(F.AsymAlgorithm.SM2, 256);
const rsaPrivate = crypto.createPrivateKey({ key: Buffer.from(RSA.privkey, 'base64'), format: 'der', type: 'pkcs8' });
const rsaPublic = crypto.createPublicKey({ key: Buffer.from(RSA.pubkey, 'base64'), format: 'der', type: 'spki' });
const USER_IDS = ['', 'alice@example.org', '1234567812345678'];
const SIGN_ALGS = ['SHA1WithRSA', 'SHA256WithRSA', 'SM3', 'SM3WithSM2'];
const isRsaSign = (alg) => alg.endsWith('RSA');
const signKey = (alg, pub) => (isRsaSign(alg) ? (pub ? RSA.pubkey : RSA.privkey) : (pub ? SM2.pubkey : SM2.privkey));
const nodeSign = (alg, bytes) =>
  crypto.sign(alg === 'SHA1WithRSA' ? 'sha1' : 'sha256', Buffer.from(bytes), rsaPrivate).toString('base64');
const rsaOpen = (ct64) => [...crypto.privateDecrypt(
  { key: rsaPrivate, padding: crypto.constants.RSA_PKCS1_OAEP_PADDING, oaepHash: 'sha256' }, Buffer.from(ct64, 'base64'))];

// asymDecrypt inputs: RSA-OAEP from node:crypto, SM2 from the reference.
const CIPHERTEXTS = [];
for (const n of [1, 2, 64, 190]) {
  const plain = bytesOf(setupRng, n);
  const ct = crypto.publicEncrypt({ key: rsaPublic, padding: crypto.constants.RSA_PKCS1_OAEP_PADDING, oaepHash: 'sha256' },
    Buffer.from(plain)).toString('base64');
  CIPHERTEXTS.push({ alg: 'RSA', plain, ct });
}
for (const n of [1, 2, 3, 33, 700, 2999, 65536]) {
  const plain = bytesOf(setupRng, n);
  CIPHERTEXTS.push({ alg: 'SM2', plain, ct: R.asymEncrypt(R.AsymAlgorithm.SM2, plain, SM2.pubkey) });
}
// asymVerify inputs: RSA signatures from node:crypto, SM2 from the reference.
const SIGNED = [];
for (const alg of SIGN_ALGS) {
  for (const n of isRsaSign(alg) ? [1, 2, 300, 2500] : [1, 2, 300, 2500, 65537]) {
    const data = bytesOf(setupRng, n);
    const userId = setupRng.pick(USER_IDS);
    const sig = isRsaSign(alg) ? nodeSign(alg, data) : R.asymSign(R.SignAlgorithm[alg], data, SM2.privkey, userId);
    SIGNED.push({ alg, data, userId, sig });
  }
}

const SHORT_SIGNED = SIGNED.map((_, i) => i).filter((i) => SIGNED[i].data.length < 65536);

// node:crypto's view of symEncrypt: cipher, padding it applies itself, and
// the PKCS#7 layers the module adds first.
const PEERS = {
  AES128ECB: ['aes-128-ecb', true, 0], AES128CBC: ['aes-128-cbc', true, 0],
  AES128OFB: ['aes-128-ofb', false, 0], AES128CFB: ['aes-128-cfb', false, 1],
  AES256ECB: ['aes-256-ecb', true, 0], AES256CBC: ['aes-256-cbc', true, 0],
  AES256OFB: ['aes-256-ofb', false, 0], AES256CFB: ['aes-256-cfb', false, 1],
  SM4ECB: ['sm4-ecb', true, 0], SM4CBC: ['sm4-cbc', true, 1], SM4OFB: ['sm4-ofb', false, 0], SM4CFB: ['sm4-cfb', false, 1],
};
function nodeEncrypt(alg, bytes) {
  const [name, autoPadding, layers] = PEERS[alg];
  let data = Buffer.from(bytes);
  for (let i = 0; i < layers; i++) {
    const pad = 16 - (data.length % 16);
    data = Buffer.concat([data, Buffer.alloc(pad, pad)]);
  }
  const c = crypto.createCipheriv(name, KEY_BYTES[alg], name.endsWith('ecb') ? null : IV_BYTES);
  c.setAutoPadding(autoPadding);
  return [...Buffer.concat([c.update(data), c.final()])];
}

// Two other realms, made once; their arrays are made fresh per scenario.
const REALMS = [0, 1].map(() => {
  const ctx = vm.createContext({});
  return {
    newArray: vm.runInContext('(n) => new Array(n)', ctx),
    ArrayProto: vm.runInContext('Array.prototype', ctx),
    ObjectProto: vm.runInContext('Object.prototype', ctx),
    TypeError: vm.runInContext('TypeError', ctx),
  };
});
class Sub extends Array {}

// ---- scenario plans: plain data, drawn from the generator once ----

const BAD = [
  { t: 'str', v: 'x' }, { t: 'str', v: '' }, { t: 'str', v: '7' }, { t: 'obj' }, { t: 'arr' }, { t: 'boxed' },
  { t: 'valueOf' }, { t: 'null' }, { t: 'undef' }, { t: 'bool', v: true }, { t: 'big' }, { t: 'sym' }, { t: 'fn' },
  { t: 'num', v: 256 }, { t: 'num', v: -1 }, { t: 'num', v: 1e21 }, { t: 'num', v: 2 ** 32 - 1 }, { t: 'num', v: 300.5 },
  { t: 'num', v: -Infinity },
];
// Numbers that are bytes after ToUint32.
const ODD = [NaN, -0, 0.5, 255.99, 2 ** 32 + 5, 2 ** 32, Infinity, -0.75, -(2 ** 32) + 3, 2 ** 53, 7.000001];
const goodOrBad = (rng) => {
  const r = rng.int(10);
  if (r < 5) return { t: 'num', v: rng.int(256) };
  if (r < 7) return { t: 'num', v: rng.pick(ODD) };
  return rng.pick(BAD);
};

const FORGED = (k) => [
  `Cannot set property ${k} of [object Array] which has only a getter`,
  'Cannot set property 5 of [object Array] which has only a getter',
  `Cannot assign to read only property '${k}' of object '[object Array]'`,
  `Cannot add property ${k}, object is not extensible`,
  `'set' on proxy: trap returned falsish for property '${k}'`,
  `Cannot redefine property: ${k}`,
  'boom',
];
function genThrown(rng, key) {
  const t = rng.pick(['TypeError', 'TypeError', 'TypeError', 'Error', 'RangeError', 'foreignTypeError', 'codeError',
    'object', 'number', 'string', 'undefined', 'null', 'symbol']);
  return { t, text: rng.pick(FORGED(key)) };
}

function pickLength(rng, allowBig = true) {
  const r = rng.int(1000);
  if (allowBig && r < 14) return rng.pick([65535, 65536, 65537, 70000, 65536 - 50 + rng.int(100)]);
  if (r < 60) return 1 + rng.int(2);
  if (r < 330) return 1 + rng.int(40);
  return 1 + rng.int(3000);
}
// An index of an n-element array, often at an edge or a 64 KiB boundary.
function pickIndex(rng, n) {
  const r = rng.int(10);
  if (r === 0) return 0;
  if (r === 1) return n - 1;
  if (r === 2) return Math.min(1, n - 1);
  if (r === 3 && n > 65536) return rng.pick([65535, 65536, n - 2]);
  return rng.int(n);
}
// An index of a result, which may be longer than the input.
const pickResultKey = (rng, n) => (rng.chance(0.15) ? n + rng.int(33) : pickIndex(rng, Math.max(n, 1)));

function genReenter(rng) {
  const fn = rng.pick(['symEncrypt', 'symEncrypt', 'symDecrypt', 'asymSign', 'asymVerify', 'asymEncrypt']);
  const len = rng.pick([1, 2, 3, 50, 1000]);
  return {
    fn,
    alg: rng.pick(SYM),
    len,
    salt: rng.int(256),
    bad: rng.chance(0.2) ? { at: rng.int(len), val: rng.pick(BAD) } : null,
    thrower: rng.chance(0.15) ? { at: rng.int(len), thrown: genThrown(rng, 0) } : null,
    catch: rng.chance(0.6),
  };
}

// An accessor put on a prototype in the middle of a call, seen by the rest of it.
const genArm = (rng, n) => ({ t: 'arm', proto: rng.pick(['Array', 'Object']), j: pickResultKey(rng, n), v: rng.int(256) });

function genMutation(rng, n, at, shared) {
  const later = () => Math.min(n - 1, at + 1 + rng.int(Math.max(1, Math.min(50, n - at))));
  if (shared && rng.chance(0.12)) return genArm(rng, n);
  switch (rng.int(11)) {
    case 9: return { t: rng.pick(['reverse', 'shift', 'unshift', 'splice', 'fill', 'sparse']), j: later(), val: goodOrBad(rng) };
    case 10: case 0: return { t: 'push', count: 1 + rng.int(5), val: goodOrBad(rng) };
    case 1: return { t: 'len', to: rng.pick([0, at, at + 1, rng.int(n + 1), n + 3]) };
    case 2: case 3: return { t: 'write', j: later(), val: goodOrBad(rng), sloppy: rng.chance(0.5) };
    case 4: return { t: 'write', j: rng.int(at + 1), val: goodOrBad(rng), sloppy: rng.chance(0.5) };
    case 5: return { t: 'delete', j: later() };
    case 6: return { t: 'getterAt', j: later(), val: goodOrBad(rng) };
    case 7: return { t: 'lock', how: rng.pick(['freeze', 'seal', 'preventExtensions']) };
    default: return { t: 'proto', to: rng.pick(['null', 'Object', 'Array']) };
  }
}

// What an element getter (own or inherited) does: mutate, call back into
// the module, then return a value or throw.
function genGetter(rng, n, at, base, shared) {
  const g = { ret: { t: 'num', v: base !== undefined && rng.chance(0.7) ? base : rng.int(256) }, mut: [], reenter: null,
    thrown: null, always: rng.chance(0.5) };
  const r = rng.int(100);
  if (r < 14) g.ret = rng.pick(BAD);
  else if (r < 22) g.ret = { t: 'num', v: rng.pick(ODD) };
  else if (r < 40) g.thrown = genThrown(rng, at);
  if (rng.chance(0.25)) {
    g.mut.push(genMutation(rng, n, at, shared));
    if (rng.chance(0.3)) g.mut.push(genMutation(rng, n, at, shared));
  }
  if (rng.chance(0.07)) g.reenter = genReenter(rng);
  return g;
}

// What a setter on a prototype index does with each store that reaches it.
function genSetter(rng, n, key) {
  const s = { effects: [], thrown: null, always: rng.chance(0.5), strict: null };
  const r = rng.int(100);
  if (r < 30) { /* records only: the index stays a hole */ } else if (r < 42) s.effects.push({ t: 'store' });
  else if (r < 58) s.thrown = genThrown(rng, key);
  else if (r < 70) s.strict = rng.pick(['frozenObject', 'frozenArray', 'getterOnly', 'nonExtensible', 'frozenThis']);
  else if (r < 78) s.effects.push({ t: rng.pick(['preventExtensions', 'seal', 'freeze']) });
  else if (r < 83) s.effects.push({ t: 'deleteSelf' }, ...(rng.chance(0.5) ? [{ t: 'store' }] : []));
  else if (r < 87) s.effects.push({ t: 'cut', to: rng.pick([0, key, key + 1, rng.int(n + 1)]) });
  else if (r < 91) s.effects.push({ t: 'write', j: pickResultKey(rng, n), val: goodOrBad(rng), sloppy: rng.chance(0.5) });
  else if (r < 94) s.effects.push({ t: 'readonly', j: pickResultKey(rng, n) });
  else if (r < 96) s.effects.push({ t: rng.chance(0.5) ? 'unproto' : 'arm' });
  else s.effects.push({ t: 'reenter', spec: genReenter(rng) });
  s.effects = s.effects.map((e) => (e.t === 'arm' ? genArm(rng, n) : e));
  return s;
}

const RANDOM_OUTPUT = (p) => (p.op === 'asymEncrypt') || (p.op === 'asymSign' && !isRsaSign(p.alg));

function genPlan(rng, index) {
  const shared = index >= PRISTINE;
  const p = { index, shared, values: null, n: 0 };
  const r = rng.int(100);
  p.op = r < 36 ? 'symEncrypt' : r < 58 ? 'symDecrypt' : r < 68 ? 'asymEncrypt' : r < 78 ? 'asymDecrypt'
    : r < 89 ? 'asymSign' : 'asymVerify';
  switch (p.op) {
    case 'symEncrypt':
      p.alg = rng.pick(SYM);
      p.values = bytesOf(rng, rng.chance(0.01) ? 0 : pickLength(rng));
      break;
    case 'symDecrypt':
      p.alg = rng.pick(SYM);
      if (rng.chance(0.85)) {
        p.plain = bytesOf(rng, pickLength(rng));
        p.values = R.symEncrypt(R.SymAlgorithm[p.alg], p.plain, KEYS[p.alg], IV);
      } else {
        p.values = bytesOf(rng, pickLength(rng));
      }
      break;
    case 'asymEncrypt':
      p.alg = rng.chance(0.4) ? 'RSA' : 'SM2';
      p.values = bytesOf(rng, p.alg === 'RSA' ? rng.int(200) : pickLength(rng));
      break;
    case 'asymDecrypt':
      p.ct = rng.int(CIPHERTEXTS.length);
      if (CIPHERTEXTS[p.ct].plain.length > 65535 && !rng.chance(0.15)) p.ct = rng.int(CIPHERTEXTS.length - 1);
      p.alg = CIPHERTEXTS[p.ct].alg;
      break;
    case 'asymSign':
      p.alg = rng.chance(0.3) ? rng.pick(SIGN_ALGS.slice(0, 2)) : rng.pick(SIGN_ALGS.slice(2));
      p.userId = rng.pick(USER_IDS);
      p.values = bytesOf(rng, pickLength(rng, !isRsaSign(p.alg)));
      break;
    default: {
      p.pair = rng.int(SIGNED.length);
      if (SIGNED[p.pair].data.length > 65535 && !rng.chance(0.1)) p.pair = rng.pick(SHORT_SIGNED);
      const pair = SIGNED[p.pair];
      p.alg = pair.alg;
      p.userId = pair.userId;
      p.values = pair.data.slice();
      if (rng.chance(0.1)) p.values[rng.int(p.values.length)] ^= 1;
    }
  }
  p.specials = []; // [index, value]
  p.holes = [];
  p.getters = []; // [index, getter]
  p.protoProps = []; // { proto, key, get?, set?, data? }
  p.inputProxy = null;
  p.resultProxy = null;
  p.kind = 'packed';
  p.lock = 'none';
  const n = p.n = p.values ? p.values.length : 0;
  const protoSlots = new Map();
  const slot = (proto, key) => {
    const id = `${proto} ${key}`;
    if (!protoSlots.has(id)) {
      const s = { proto, key };
      protoSlots.set(id, s);
      p.protoProps.push(s);
    }
    return protoSlots.get(id);
  };

  // Most scenarios aim at one side, so that the other does not fail first.
  const outLen = p.op === 'asymDecrypt' ? CIPHERTEXTS[p.ct].plain.length : n;
  const makesBytes = p.op === 'symEncrypt' || p.op === 'symDecrypt' || p.op === 'asymDecrypt';
  p.focus = !shared ? 'input' : !makesBytes ? (rng.chance(0.15) ? 'both' : 'input')
    : rng.pick(['input', 'result', 'result', 'both']);
  const onInput = p.focus !== 'result';

  if (p.values) {
    const k = rng.int(onInput ? 100 : 98);
    p.kind = k < 40 ? 'packed' : k < 60 ? 'holey' : k < 72 ? 'doubles' : k < 84 ? 'foreign' : k < 91 ? 'dictionary'
      : k < 98 ? 'subclass' : rng.pick(['proxy', 'arrayLike', 'typed']);
    if (p.kind === 'doubles') p.frac = rng.pick([0.25, 0.5, 0.999]);
    if (p.kind === 'foreign') p.realm = rng.int(REALMS.length);
    if (rng.chance(0.08)) p.lock = rng.pick(['freeze', 'seal', 'preventExtensions']);
    if (rng.chance(0.05)) p.named = true;
    const used = new Set();
    const free = (i) => !used.has(i) && (used.add(i), true);
    if (!onInput && n > 0 && rng.chance(0.25)) {
      const at = pickIndex(rng, n);
      used.add(at);
      p.getters.push([at, { ret: { t: 'num', v: p.values[at] }, mut: [], reenter: null, thrown: null, enumerable: true }]);
    }
    if (onInput && n > 0 && rng.chance(0.25)) {
      for (let c = 1 + rng.int(3); c > 0; c--) {
        const at = pickIndex(rng, n);
        if (free(at)) p.specials.push([at, rng.chance(0.45) ? rng.pick(BAD) : { t: 'num', v: rng.pick(ODD) }]);
      }
    }
    if (onInput && n > 0 && rng.chance(0.3)) {
      for (let c = 1 + rng.int(rng.chance(0.2) ? 40 : 4); c > 0; c--) {
        const at = pickIndex(rng, n);
        if (free(at)) p.holes.push(at);
      }
    }
    if (onInput && n > 0 && rng.chance(0.35)) {
      for (let c = 1 + rng.int(4); c > 0; c--) {
        const at = pickIndex(rng, n);
        if (free(at)) p.getters.push([at, { ...genGetter(rng, n, at, p.values[at], shared), enumerable: rng.chance(0.5) }]);
      }
    }
    // Holes answered by the prototype chain.
    if (p.holes.length > 0) {
      const protos = p.kind === 'foreign' ? ['fArray', 'fObject', 'Array'] : ['Array', 'Object'];
      const answerAll = rng.chance(0.7);
      if (shared) {
        for (const at of p.holes) {
          if (!answerAll && !rng.chance(0.3)) continue;
          const proto = rng.pick(protos);
          const s = slot(proto, at);
          if (rng.chance(0.75)) s.get = genGetter(rng, n, at, p.values[at], shared);
          else s.data = { val: rng.chance(0.8) ? { t: 'num', v: p.values[at] } : goodOrBad(rng), writable: rng.chance(0.5) };
        }
      }
      if (rng.chance(shared ? 0.12 : 0.6)) {
        p.inputProxy = { answers: p.holes.filter(() => answerAll || rng.chance(0.5)).map((at) =>
          [at, rng.chance(0.8) ? { val: rng.chance(0.7) ? { t: 'num', v: p.values[at] } : goodOrBad(rng) }
            : { thrown: genThrown(rng, at) }]) };
      }
    }
  }

  // Stores into results.
  if (p.focus !== 'input' || (shared && rng.chance(0.1))) {
    for (let c = 1 + rng.int(3); c > 0; c--) {
      const key = pickResultKey(rng, outLen);
      const s = slot(rng.chance(0.7) ? 'Array' : 'Object', key);
      const r2 = rng.int(100);
      if (r2 < 75 && !s.data) s.set = genSetter(rng, outLen, key);
      else if (r2 < 88 && !s.data) s.get = s.get || genGetter(rng, n, key, undefined, shared);
      else if (!s.get && !s.set) s.data = { val: { t: 'num', v: rng.int(256) }, writable: false };
    }
  }
  if (shared && rng.chance(p.focus === 'input' ? 0.03 : 0.1)) {
    const keys = [];
    for (let c = 1 + rng.int(4); c > 0; c--) keys.push(pickResultKey(rng, outLen));
    for (const at of p.holes) if (rng.chance(0.3)) keys.push(at);
    p.resultProxy = {
      answers: keys.map((k) => [k, { set: rng.pick(['false', 'false', 'true', 'reflect', 'throw']),
        val: rng.chance(0.3) ? { t: 'num', v: rng.int(256) } : null }]),
      thrown: genThrown(rng, keys[0]),
    };
  }
  // An accessor that takes away another one before it is reached.
  if (shared && p.protoProps.length > 0 && rng.chance(0.25)) {
    const victim = rng.pick(p.protoProps);
    const disarm = { t: 'disarm', proto: victim.proto, j: victim.key };
    const setters = p.protoProps.filter((s) => s.set && s !== victim);
    if (p.getters.length > 0 && rng.chance(0.6)) rng.pick(p.getters)[1].mut.push(disarm);
    else if (setters.length > 0) rng.pick(setters).set.effects.push(disarm);
  }
  p.clean = p.specials.every(([, v]) => v.t === 'num' && toUint32(v.v) <= 255) && p.holes.length === 0 &&
    p.getters.length === 0 && p.protoProps.length === 0 && !p.inputProxy && !p.resultProxy &&
    !['proxy', 'arrayLike', 'typed'].includes(p.kind);
  return p;
}

function describePlan(p) {
  const v = (x) => (x.t === 'num' ? String(Object.is(x.v, -0) ? '-0' : x.v)
    : x.t + (x.v !== undefined ? `:${JSON.stringify(x.v)}` : ''));
  const throws = (x) => (x.thrown ? `throws ${x.thrown.t}(${JSON.stringify(x.thrown.text)})${x.always ? ' always' : ''}` : '');
  const g = (x) => [throws(x) || `-> ${v(x.ret)}`, ...x.mut.map((m) => m.t + JSON.stringify(m)),
    x.reenter ? `reenters ${x.reenter.fn}` : ''].filter(Boolean).join(' ');
  const s = (x) => [throws(x), x.strict ? `strict failing store (${x.strict})` : '',
    ...x.effects.map((e) => JSON.stringify(e))].filter(Boolean).join(' ') || 'records';
  const parts = [`${p.op} ${p.alg}`];
  if (p.values) parts.push(`n=${p.n} ${p.kind}${p.lock !== 'none' ? ` ${p.lock}` : ''}`);
  if (p.op === 'asymDecrypt') parts.push(`plaintext ${CIPHERTEXTS[p.ct].plain.length}`);
  if (p.specials.length) parts.push(`values ${p.specials.map(([i, x]) => `[${i}]=${v(x)}`).join(' ')}`);
  if (p.holes.length) parts.push(`holes ${p.holes.slice(0, 8).join(',')}${p.holes.length > 8 ? '...' : ''}`);
  for (const [i, x] of p.getters) parts.push(`getter [${i}] ${g(x)}`);
  for (const x of p.protoProps) {
    parts.push(`${x.proto}.prototype[${x.key}]${x.get ? ` get ${g(x.get)}` : ''}${x.set ? ` set ${s(x.set)}` : ''}` +
      `${x.data ? ` value ${v(x.data.val)}${x.data.writable ? '' : ' read-only'}` : ''}`);
  }
  if (p.inputProxy) parts.push(`proxy prototype ${JSON.stringify(p.inputProxy.answers)}`);
  if (p.resultProxy) parts.push(`proxy above Array.prototype ${JSON.stringify(p.resultProxy.answers)}`);
  return parts.join('; ');
}

// ---- running a plan against one module ----

// Appends without [[Set]], which installed setters would catch.
const own = (v) => ({ value: v, enumerable: true, writable: true, configurable: true });
const append = (list, v) => Object.defineProperty(list, list.length, own(v));
const sloppyStore = new Function('a', 'i', 'v', 'a[i] = v;');
const strictStore = (a, i, v) => { a[i] = v; };

function fmt(st, v) {
  if (typeof v === 'number') return Object.is(v, -0) ? '-0' : String(v);
  if (typeof v === 'string') return JSON.stringify(v);
  if (typeof v === 'bigint') return `${v}n`;
  if (v === undefined || v === null || typeof v === 'boolean') return String(v);
  if (st.reg.has(v)) return `#${st.reg.get(v)}`;
  if (st.rids.has(v)) return `@${st.rids.get(v)}`;
  if (typeof v === 'symbol') return 'symbol';
  return `<${typeof v}>`;
}
// The receiver's number: the input is @0, every other object seen gets the next.
function rid(st, o) {
  if (o === null || (typeof o !== 'object' && typeof o !== 'function')) return fmt(st, o);
  if (!st.rids.has(o)) {
    st.rids.set(o, st.rids.size);
    st.ridObjects.set(st.rids.size - 1, o);
  }
  return `@${st.rids.get(o)}`;
}
const log = (st, text) => { if (st.recording) append(st.log, text); };

function makeValue(st, spec) {
  const reg = (o) => { st.reg.set(o, st.reg.size); return o; };
  switch (spec.t) {
    case 'num': case 'str': case 'bool': return spec.v;
    case 'null': return null;
    case 'undef': return undefined;
    case 'big': return 1n;
    case 'sym': return reg(Symbol('s'));
    case 'obj': return reg({});
    case 'arr': return reg([1]);
    case 'boxed': return reg(new Number(1));
    case 'valueOf':
      return reg({ valueOf() { log(st, 'valueOf called'); return 1; }, toString() { log(st, 'toString called'); return '1'; } });
    case 'fn': return reg(() => 1);
    default: throw new Error(`value ${spec.t}`);
  }
}
function makeThrown(st, spec) {
  const reg = (o) => { st.reg.set(o, st.reg.size); return o; };
  switch (spec.t) {
    case 'TypeError': return reg(new TypeError(spec.text));
    case 'Error': return reg(new Error(spec.text));
    case 'RangeError': return reg(new RangeError(spec.text));
    case 'foreignTypeError': return reg(new REALMS[0].TypeError(spec.text));
    case 'codeError':
      return reg(Object.assign(new Error('Failed to convert napi value String into rust type `u8`'), { code: 'NumberExpected' }));
    case 'object': return reg({ text: spec.text });
    case 'number': return 42;
    case 'string': return spec.text;
    case 'undefined': return undefined;
    case 'null': return null;
    default: return reg(Symbol(spec.text));
  }
}

// A call back into the same module from inside a getter or setter.
function reenter(st, spec) {
  const m = st.m;
  const data = [];
  for (let i = 0; i < spec.len; i++) Object.defineProperty(data, i, own((i * 31 + spec.salt) & 0xff));
  if (spec.bad) data[spec.bad.at] = makeValue(st, spec.bad.val);
  if (spec.thrower) {
    const thrown = makeThrown(st, spec.thrower.thrown);
    Object.defineProperty(data, spec.thrower.at, { get() { log(st, 'inner getter throws'); throw thrown; } });
  }
  try {
    let r;
    switch (spec.fn) {
      case 'symEncrypt': r = m.symEncrypt(m.SymAlgorithm[spec.alg], data, KEYS[spec.alg], IV); break;
      case 'symDecrypt': r = m.symDecrypt(m.SymAlgorithm[spec.alg], data, KEYS[spec.alg], IV); break;
      case 'asymSign': r = typeof m.asymSign(m.SignAlgorithm.SM3WithSM2, data, SM2.privkey, ''); break;
      case 'asymVerify': r = m.asymVerify(m.SignAlgorithm.SM3WithSM2, data, SIGNED[SIGNED.length - 1].sig, SM2.pubkey, ''); break;
      default: r = typeof m.asymEncrypt(m.AsymAlgorithm.SM2, data, SM2.pubkey);
    }
    log(st, `reentry ${spec.fn} returned ${typeof r === 'object' ? rid(st, r) : fmt(st, r)}`);
  } catch (e) {
    log(st, `reentry ${spec.fn} threw ${thrownText(st, e)}`);
    if (!spec.catch) throw e;
  }
}

function thrownText(st, e) {
  if (st.reg.has(e)) return `#${st.reg.get(e)}`;
  if (e !== null && typeof e === 'object') {
    const ctor = e.constructor && e.constructor.name;
    return `${ctor} instanceof Error=${e instanceof Error} code=${fmt(st, e.code)} message=${JSON.stringify(e.message)}`;
  }
  return fmt(st, e);
}

function mutate(st, mu) {
  const a = st.data;
  switch (mu.t) {
    case 'push': for (let i = 0; i < mu.count; i++) Array.prototype.push.call(a, makeValue(st, mu.val)); break;
    case 'len': a.length = mu.to; break;
    case 'write': (mu.sloppy ? sloppyStore : strictStore)(a, mu.j, makeValue(st, mu.val)); break;
    case 'delete': delete a[mu.j]; break;
    case 'getterAt': {
      const v = makeValue(st, mu.val);
      Object.defineProperty(a, mu.j, { configurable: true, get() { log(st, `late getter [${mu.j}] this=${rid(st, this)}`); return v; } });
      break;
    }
    case 'lock': Object[mu.how](a); break;
    case 'reverse': case 'shift': Array.prototype[mu.t].call(a); break;
    case 'unshift': Array.prototype.unshift.call(a, makeValue(st, mu.val)); break;
    case 'splice': Array.prototype.splice.call(a, mu.j, 1); break;
    case 'fill': Array.prototype.fill.call(a, makeValue(st, mu.val), mu.j); break;
    case 'sparse': a[a.length + 100000] = 1; break;
    case 'arm': case 'disarm': armOrDisarm(st, mu); break;
    default: Object.setPrototypeOf(a, mu.to === 'null' ? null : mu.to === 'Object' ? Object.prototype : protoOf(st));
  }
}
function armOrDisarm(st, e) {
  const proto = st.protos[e.proto];
  if (e.t === 'disarm') {
    delete proto[e.j];
    return;
  }
  Object.defineProperty(proto, e.j, {
    configurable: true,
    get() { log(st, `armed get ${e.proto}[${e.j}] this=${rid(st, this)}`); return e.v; },
    set(v) { log(st, `armed set ${e.proto}[${e.j}] v=${fmt(st, v)} this=${rid(st, this)}`); },
  });
  append(st.undo, () => delete proto[e.j]);
}
const protoOf = (st) => (st.p.kind === 'foreign' ? REALMS[st.p.realm].ArrayProto : Array.prototype);

function makeGetter(st, spec, where) {
  let calls = 0;
  const ret = makeValue(st, spec.ret);
  return function () {
    calls++;
    st.active++;
    try {
      log(st, `get ${where} this=${rid(st, this)} call ${calls}`);
      if (st.active === 1) {
        for (let i = 0; i < spec.mut.length; i++) mutate(st, spec.mut[i]);
        if (spec.reenter) reenter(st, spec.reenter);
      }
      if (spec.thrown && (spec.always || calls === 1)) throw makeThrown(st, spec.thrown);
      return ret;
    } finally {
      st.active--;
    }
  };
}

function strictFailure(st, how, self) {
  switch (how) {
    case 'frozenObject': Object.freeze({ x: 1 }).x = 2; break;
    case 'frozenArray': Object.freeze([1, 2, 3, 4, 5, 6])[5] = 1; break;
    case 'getterOnly': Object.defineProperty({}, 'x', { get() { return 1; } }).x = 2; break;
    case 'nonExtensible': Object.preventExtensions({}).y = 1; break;
    default:
      if (Array.isArray(self)) {
        Object.freeze(self);
        self[self.length + 1000] = 1;
      }
  }
}

function makeSetter(st, spec, proto, key) {
  let calls = 0;
  return function (v) {
    calls++;
    st.active++;
    try {
      const arr = Array.isArray(this);
      log(st, `set ${proto}[${key}] v=${fmt(st, v)} this=${rid(st, this)} array=${arr} length=${arr ? this.length : '-'} call ${calls}`);
      if (st.active === 1 && arr) {
        for (let i = 0; i < spec.effects.length; i++) {
          const e = spec.effects[i];
          switch (e.t) {
            case 'store': Object.defineProperty(this, key, own(v)); break;
            case 'preventExtensions': case 'seal': case 'freeze': Object[e.t](this); break;
            case 'deleteSelf': delete st.protos[proto][key]; break;
            case 'cut': this.length = e.to; break;
            case 'write': (e.sloppy ? sloppyStore : strictStore)(this, e.j, makeValue(st, e.val)); break;
            case 'readonly': Object.defineProperty(this, e.j, { value: 77, writable: false, enumerable: true, configurable: false }); break;
            case 'unproto': Object.setPrototypeOf(this, null); break;
            case 'arm': case 'disarm': armOrDisarm(st, e); break;
            default: reenter(st, e.spec);
          }
        }
      }
      if (spec.strict && (spec.always || calls === 1)) strictFailure(st, spec.strict, this);
      if (spec.thrown && (spec.always || calls === 1)) throw makeThrown(st, spec.thrown);
    } finally {
      st.active--;
    }
  };
}

// Traps of a proxy in a prototype chain, each call logged. `answers` holds,
// by index, a value or exception for [[Get]] and the outcome of [[Set]]:
// 'false', 'true' without storing, 'throw', or passed on ('reflect').
function makeTraps(st, name, answers, thrown) {
  const byKey = new Map(answers.map(([k, a]) => [String(k), a]));
  const keyText = (k) => (typeof k === 'symbol' ? k.toString() : k);
  return {
    get(t, k, r) {
      log(st, `${name} get ${keyText(k)} this=${rid(st, r)}`);
      const a = byKey.get(k);
      if (a && a.thrown) throw makeThrown(st, a.thrown);
      if (a && a.val) return makeValue(st, a.val);
      return Reflect.get(t, k, r);
    },
    has(t, k) { log(st, `${name} has ${keyText(k)}`); return Reflect.has(t, k); },
    set(t, k, v, r) {
      log(st, `${name} set ${keyText(k)} v=${fmt(st, v)} this=${rid(st, r)}`);
      const a = byKey.get(k);
      if (a && a.set === 'false') return false;
      if (a && a.set === 'true') return true;
      if (a && a.set === 'throw') throw makeThrown(st, thrown);
      return Reflect.set(t, k, v, r);
    },
    getOwnPropertyDescriptor(t, k) {
      log(st, `${name} getOwnPropertyDescriptor ${keyText(k)}`);
      return Reflect.getOwnPropertyDescriptor(t, k);
    },
    defineProperty(t, k, d) { log(st, `${name} defineProperty ${keyText(k)}`); return Reflect.defineProperty(t, k, d); },
    ownKeys(t) { log(st, `${name} ownKeys`); return Reflect.ownKeys(t); },
  };
}

function buildInput(st) {
  const p = st.p;
  const n = p.n;
  const holes = new Set(p.holes);
  const val = (i) => (p.kind === 'doubles' ? p.values[i] + p.frac : p.values[i]);
  let a;
  switch (p.kind) {
    case 'proxy': return new Proxy(p.values.slice(), {});
    case 'arrayLike': return Object.assign({ length: n }, p.values);
    case 'typed': return new Uint8Array(p.values);
    case 'holey': case 'foreign': case 'subclass':
      a = p.kind === 'holey' ? new Array(n) : p.kind === 'subclass' ? new Sub(n) : REALMS[p.realm].newArray(n);
      for (let i = 0; i < n; i++) if (!holes.has(i)) a[i] = val(i);
      break;
    case 'dictionary':
      a = [];
      a.length = n;
      for (let i = n - 1; i >= 0; i--) if (!holes.has(i)) a[i] = val(i);
      break;
    default:
      a = p.values.map((_, i) => val(i));
      for (const i of holes) delete a[i];
  }
  for (const [i, v] of p.specials) a[i] = makeValue(st, v);
  for (const [i, g] of p.getters) {
    Object.defineProperty(a, i, { configurable: true, enumerable: g.enumerable, get: makeGetter(st, g, `[${i}]`) });
  }
  if (p.inputProxy) {
    Object.setPrototypeOf(a, new Proxy(Object.getPrototypeOf(a), makeTraps(st, 'input proxy', p.inputProxy.answers)));
  }
  if (p.named) a.extra = 'named';
  if (p.lock !== 'none') Object[p.lock](a);
  return a;
}

function install(st, undo) {
  const p = st.p;
  for (const s of p.protoProps) {
    const proto = st.protos[s.proto];
    const d = { configurable: true };
    if (s.data) Object.assign(d, { value: makeValue(st, s.data.val), writable: s.data.writable });
    if (s.get) d.get = makeGetter(st, s.get, `${s.proto}.prototype[${s.key}]`);
    if (s.set) d.set = makeSetter(st, s.set, s.proto, s.key);
    Object.defineProperty(proto, s.key, d);
    append(undo, () => delete proto[s.key]);
  }
  if (p.resultProxy) {
    const above = Object.getPrototypeOf(Array.prototype);
    const proxy = new Proxy(above, makeTraps(st, 'proxy', p.resultProxy.answers, p.resultProxy.thrown));
    st.reg.set(proxy, st.reg.size);
    Object.setPrototypeOf(Array.prototype, proxy);
    append(undo, () => Object.setPrototypeOf(Array.prototype, above));
  }
}

function call(st, data) {
  const { m, p } = st;
  switch (p.op) {
    case 'symEncrypt': return m.symEncrypt(m.SymAlgorithm[p.alg], data, KEYS[p.alg], IV);
    case 'symDecrypt': return m.symDecrypt(m.SymAlgorithm[p.alg], data, KEYS[p.alg], IV);
    case 'asymEncrypt': return m.asymEncrypt(m.AsymAlgorithm[p.alg], data, p.alg === 'RSA' ? RSA.pubkey : SM2.pubkey);
    case 'asymDecrypt': {
      const c = CIPHERTEXTS[p.ct];
      return m.asymDecrypt(m.AsymAlgorithm[c.alg], c.ct, c.alg === 'RSA' ? RSA.privkey : SM2.privkey);
    }
    case 'asymSign': return m.asymSign(m.SignAlgorithm[p.alg], data, signKey(p.alg, false), p.userId);
    default: return m.asymVerify(m.SignAlgorithm[p.alg], data, p.sig || SIGNED[p.pair].sig, signKey(p.alg, true), p.userId);
  }
}

// Everything about an object, read without running any of its accessors.
function describe(st, o) {
  const proto = Object.getPrototypeOf(o);
  const protoName = proto === Array.prototype ? 'Array' : proto === Object.prototype ? 'Object' : proto === null ? 'null'
    : proto === Sub.prototype ? 'Sub' : REALMS.some((r) => r.ArrayProto === proto) ? 'foreign Array' : fmt(st, proto);
  let text = `proto=${protoName} array=${Array.isArray(o)} extensible=${Object.isExtensible(o)}`;
  const keys = Reflect.ownKeys(o);
  for (let i = 0; i < keys.length; i++) {
    const k = keys[i];
    const d = Reflect.getOwnPropertyDescriptor(o, k);
    text += ` ${typeof k === 'symbol' ? k.toString() : k}=${'value' in d ? fmt(st, d.value) : 'accessor'}`;
    if (!d.enumerable) text += ' hidden';
    if (!d.configurable) text += ' fixed';
    if (d.writable === false) text += ' ro';
  }
  return text;
}

// Runs plan p against module m and returns what JavaScript could see, as text.
function execute(m, p) {
  const st = {
    m, p, log: [], undo: [], reg: new Map(), rids: new Map(), ridObjects: new Map(), active: 0, recording: false, data: null,
    protos: { Array: Array.prototype, Object: Object.prototype },
  };
  if (p.kind === 'foreign') Object.assign(st.protos, { fArray: REALMS[p.realm].ArrayProto, fObject: REALMS[p.realm].ObjectProto });
  else Object.assign(st.protos, { fArray: REALMS[0].ArrayProto, fObject: REALMS[0].ObjectProto });
  if (p.values) {
    st.data = buildInput(st);
    rid(st, st.data);
  }
  const undo = st.undo;
  let outcome;
  try {
    install(st, undo);
    st.recording = true;
    try {
      outcome = { value: call(st, st.data) };
    } catch (e) {
      outcome = { error: e };
    }
    st.recording = false;
  } finally {
    st.recording = false;
    for (let i = undo.length - 1; i >= 0; i--) undo[i]();
  }
  let result;
  let got;
  if ('error' in outcome) {
    result = `threw ${thrownText(st, outcome.error)}`;
  } else if (typeof outcome.value === 'object' && outcome.value !== null) {
    result = `returned ${rid(st, outcome.value)}`;
    got = outcome.value;
  } else if (typeof outcome.value === 'string' && RANDOM_OUTPUT(p)) {
    // Random ciphertexts and signatures: compared by what they hold.
    if (p.op === 'asymSign') {
      result = 'returned a signature';
      got = outcome.value;
    } else {
      got = p.alg === 'RSA' ? rsaOpen(outcome.value) : R.asymDecrypt(R.AsymAlgorithm.SM2, outcome.value, SM2.privkey);
      result = `returned a ciphertext of ${got.join(',')}`;
    }
  } else {
    result = `returned ${fmt(st, outcome.value)}`;
    got = outcome.value;
  }
  const objects = [];
  for (const [id, o] of st.ridObjects) objects.push(`@${id}: ${describe(st, o)}`);
  return { result, log: st.log.join('\n'), objects: objects.join('\n'), got };
}

// What node:crypto (or the plan's own plaintext) says a clean scenario gives.
function expectation(p) {
  if (!p.clean) return undefined;
  if (p.op === 'asymDecrypt') return CIPHERTEXTS[p.ct].plain;
  const bytes = p.values.slice();
  for (const [i, v] of p.specials) bytes[i] = toUint32(v.v);
  if (bytes.length === 0) return undefined;
  switch (p.op) {
    case 'symEncrypt': return p.alg === 'SM4GCM' ? undefined : nodeEncrypt(p.alg, bytes);
    case 'symDecrypt': return p.plain && bytes.every((b, i) => b === p.values[i]) ? p.plain : undefined;
    case 'asymEncrypt': return p.alg === 'RSA' && bytes.length > 190 ? undefined : bytes;
    case 'asymSign': return isRsaSign(p.alg) ? nodeSign(p.alg, bytes) : { verifyWith: bytes };
    default: return bytes.every((b, i) => b === SIGNED[p.pair].data[i]);
  }
}

function firstDifference(a, b) {
  let i = 0;
  while (i < a.length && a[i] === b[i]) i++;
  const from = Math.max(0, i - 120);
  const cut = (s) => `${from > 0 ? '...' : ''}${s.slice(from, i + 200)}${s.length > i + 200 ? '...' : ''}`;
  return `at character ${i}:\n  module:    ${cut(a)}\n  reference: ${cut(b)}`;
}

function compare(p, fast, ref) {
  for (const field of ['result', 'log', 'objects']) {
    if (fast[field] !== ref[field]) return `${field} differs ${firstDifference(fast[field], ref[field])}`;
  }
  // A random signature is checked by the reference verifying it over the
  // same scenario, built afresh.
  if (p.op === 'asymSign' && !isRsaSign(p.alg) && typeof fast.got === 'string') {
    const replay = execute(R, { ...p, op: 'asymVerify', sig: fast.got });
    if (replay.result !== 'returned true') return `the module's signature, verified over the scenario by the reference: ${replay.result}`;
  }
  const expected = expectation(p);
  if (expected === undefined) return null;
  if (expected && expected.verifyWith) {
    return R.asymVerify(R.SignAlgorithm[p.alg], expected.verifyWith, fast.got, SM2.pubkey, p.userId) === true ? null
      : 'the signature does not verify over the bytes given';
  }
  try {
    assert.deepStrictEqual(fast.got, expected);
  } catch {
    const text = (v) => JSON.stringify(v).slice(0, 300);
    return `not the expected value: ${text(fast.got)}\n  expected: ${text(expected)}`;
  }
  return null;
}

test('the module and the element-by-element reference agree on generated scenarios', (t) => {
  // The comparison means something only if the two really take different paths.
  const viaScript = (m) => {
    const data = Array(10).fill(1);
    let stack = '';
    Object.defineProperty(data, 3, { get() { stack = new Error().stack; return 1; } });
    m.symEncrypt(m.SymAlgorithm.SM4OFB, data, KEYS.SM4OFB, IV);
    return stack.includes('tarnwick:bytes');
  };
  assert.equal(viaScript(F), true, `${fastPath} does not convert through its script`);
  assert.equal(viaScript(R), false, `${refPath} with TARNWICK_FAULT=napi_run_script: still uses the script`);

  const started = Date.now();
  const failures = [];
  let differing = 0;
  let ran = 0;
  const kinds = new Map();
  const count = (k) => kinds.set(k, (kinds.get(k) || 0) + 1);
  for (let i = 0; i < COUNT; i++) {
    if (ONLY >= 0 && i !== ONLY) continue;
    const p = genPlan(prng(scenarioSeed(i)), i);
    count(`${p.op} ${p.alg}`);
    count(`input ${p.kind}`);
    if (p.n >= 65535) count('long input');
    if (p.getters.length) count('own getters');
    if (p.protoProps.some((s) => s.get)) count('inherited getters');
    if (p.protoProps.some((s) => s.set)) count('inherited setters');
    if (p.protoProps.some((s) => s.data || (s.get && !s.set))) count('inherited index without setter');
    if (p.inputProxy || p.resultProxy) count('proxy in the prototype chain');
    if (p.clean) count('clean, bytes checked');
    if (p.holes.length) count('holes');
    if (p.specials.length) count('bad or unusual values');
    const accessors = [...p.getters.map(([, g]) => g), ...p.protoProps.flatMap((s) => [s.get, s.set].filter(Boolean))];
    if (accessors.some((a) => a.reenter || (a.effects && a.effects.some((e) => e.t === 'reenter')))) count('reentry');
    if (accessors.some((a) => a.mut && a.mut.length)) count('getter mutating the input');
    if (accessors.some((a) => [...(a.mut || []), ...(a.effects || [])].some((e) => e.t === 'arm' || e.t === 'disarm'))) {
      count('prototype accessor added or removed mid-call');
    }
    if (accessors.some((a) => a.thrown)) count('accessor throwing');
    if (accessors.some((a) => a.strict)) count('setter with a failing strict store');
    if (accessors.some((a) => a.effects && a.effects.length)) count('setter acting on the result');
    let fast;
    let ref;
    try {
      fast = execute(F, p);
      ref = execute(R, p);
    } catch (e) {
      throw new Error(`seed ${SEED}, scenario ${i}: the harness failed: ${describePlan(p)}\n${e && e.stack}`);
    }
    ran++;
    const difference = compare(p, fast, ref);
    if (difference !== null) {
      differing++;
      if (failures.length < 6) {
        failures.push(`scenario ${i} (TARNWICK_FUZZ_SEED=${SEED} TARNWICK_FUZZ_COUNT=${COUNT} TARNWICK_FUZZ_ONLY=${i}): ` +
          `${describePlan(p)}\n${difference}`);
      }
    }
  }
  t.diagnostic(`seed ${SEED}: ${ran} scenarios in ${Date.now() - started} ms`);
  t.diagnostic([...kinds].sort().map(([k, c]) => `${k}: ${c}`).join(', '));
  assert.equal(differing, 0,
    `seed ${SEED}: ${differing} of ${ran} scenarios differ; the first ones:\n\n${failures.join('\n\n')}`);
});
