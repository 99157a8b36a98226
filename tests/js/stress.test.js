'use strict';
// Stress: every export from six worker threads and the main thread at once;
// 20,000 calls with garbage arguments of every JS type; 100,000 mixed calls
// with resident memory flat; KeyPair instances collected and finalized.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { execFileSync } = require('node:child_process');
const { m, modulePath } = require('./helpers');
const { workload, text } = require('./stress_workload');

const FUNCTIONS = ['symGenerateKey', 'symEncrypt', 'symDecrypt', 'asymGenerateKey', 'asymGenerateKeyTest',
  'asymEncrypt', 'asymDecrypt', 'asymSign', 'asymVerify', 'randomGenerate'];
const ENUMS = ['SymAlgorithm', 'AsymAlgorithm', 'SignAlgorithm'];

test('the module has all thirteen exports', () => {
  for (const f of FUNCTIONS) assert.equal(typeof m[f], 'function', f);
  for (const e of ENUMS) assert.equal(typeof m[e], 'object', e);
});

test('six workers and the main thread call every export at once', async () => {
  const workloadPath = path.join(__dirname, 'stress_workload.js');
  const src = `
    const { parentPort, workerData } = require('node:worker_threads');
    const m = require(workerData.modulePath);
    require(workerData.workloadPath).workload(m, 3);
    parentPort.postMessage('done');`;
  const workers = Array.from({ length: 6 }, () => new Promise((resolve, reject) => {
    const w = new Worker(src, { eval: true, workerData: { modulePath, workloadPath } });
    let ok = false;
    w.on('message', (msg) => { ok = msg === 'done'; });
    w.on('error', reject);
    w.on('exit', (code) => (ok && code === 0 ? resolve() : reject(new Error(`worker exit ${code}`))));
  }));
  workload(m, 3);
  await Promise.all(workers);
});

// --- garbage arguments ------------------------------------------------------

function makeRandom(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6D2B79F5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function corrupt(rand, str) {
  const chars = [...str];
  const i = Math.floor(rand() * chars.length);
  const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=!\u00e9';
  chars[i] = alphabet[Math.floor(rand() * alphabet.length)];
  if (rand() < 0.2) return chars.slice(0, Math.floor(rand() * chars.length)).join('');
  return chars.join('');
}

function garbagePool() {
  const cyclic = [];
  cyclic.push(cyclic);
  const cyclicObj = {};
  cyclicObj.self = cyclicObj;
  const throwingElement = [1, 2, 3];
  Object.defineProperty(throwingElement, 1, { get() { throw new Error('element getter'); } });
  const throwingToString = { toString() { throw new Error('toString'); }, valueOf() { throw new Error('valueOf'); } };
  const sparseHuge = [];
  sparseHuge.length = 2 ** 32 - 1;
  const sparseBig = new Array(200_000);
  const holes = [1, , 3]; // eslint-disable-line no-sparse-arrays
  const proxyArray = new Proxy([1, 2, 3], {
    get(t, k) { if (k === 'length') return 1e9; if (k === '0') throw new Error('proxy get'); return Reflect.get(t, k); },
  });
  const revoked = Proxy.revocable([], {});
  revoked.revoke();
  const lengthGetter = { get length() { throw new Error('length getter'); } };
  const arrayWithExtras = Object.assign([1, 2, 3], { foo: 'bar' });
  return [
    undefined, null, true, false, 0, -0, 1, -1, 255, 256, 1.5, NaN, Infinity, -Infinity, 1e308, -1e308,
    2 ** 31, -(2 ** 31), 2 ** 32 + 5, 2 ** 53, Number.MIN_VALUE, 13, 4, 12,
    Symbol('s'), Symbol.iterator, 0n, 12n, 2n ** 200n, -1n,
    '', 'x', '\0', '\uD800', 'A'.repeat(1 << 20), '====', '12345678'.repeat(1025),
    [], [0], [-1], [256], [1.5], ['1'], [null], [1n], [Symbol('e')], [{}], holes, cyclic, cyclicObj, throwingElement,
    throwingToString, sparseHuge, sparseBig, proxyArray, revoked.proxy, lengthGetter, arrayWithExtras,
    new Uint8Array([1, 2, 3]), Buffer.from('abc'), new ArrayBuffer(8), new Date(0), /re/, () => 1, new Map(),
    Object.create(null), new Proxy({}, { get() { throw new Error('proxy'); } }), m.KeyPair, m.SymAlgorithm,
  ];
}

test('20,000 calls with garbage arguments end in thrown Errors or valid results', () => {
  const rand = makeRandom(20240601);
  const pick = (arr) => arr[Math.floor(rand() * arr.length)];
  const pool = garbagePool();
  const sm2 = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);
  const rsa = m.asymGenerateKey(m.AsymAlgorithm.RSA, 1024);
  const symKey = m.symGenerateKey(m.SymAlgorithm.SM4GCM);
  const iv = m.randomGenerate(16);
  const sm2Ct = m.asymEncrypt(m.AsymAlgorithm.SM2, text, sm2.pubkey);
  const rsaCt = m.asymEncrypt(m.AsymAlgorithm.RSA, text, rsa.pubkey);
  const sm2Sig = m.asymSign(m.SignAlgorithm.SM3WithSM2, text, sm2.privkey, '');
  const symCt = m.symEncrypt(m.SymAlgorithm.SM4GCM, text, symKey, iv);
  const texts = [sm2.pubkey, sm2.privkey, rsa.pubkey, rsa.privkey, symKey, iv, sm2Ct, rsaCt, sm2Sig];
  const nearValid = () => {
    switch (Math.floor(rand() * 7)) {
      case 0: return Math.floor(rand() * 16) - 1;             // enum values, one past each end
      case 1: return text.slice(0, Math.floor(rand() * text.length));
      case 2: return pick(texts);
      case 3: return corrupt(rand, pick(texts));
      case 4: { const c = [...symCt]; c[Math.floor(rand() * c.length)] ^= 1 + Math.floor(rand() * 255); return c; }
      case 5: return [...Buffer.from(pick(texts), 'base64')];
      default: return pick(['', 'alice', '1234567812345678', 'x'.repeat(9000)]);
    }
  };
  const checks = {
    symGenerateKey: (r) => typeof r === 'string',
    symEncrypt: (r) => Array.isArray(r) && r.every((b) => Number.isInteger(b) && b >= 0 && b <= 255),
    asymGenerateKey: (r) => r instanceof m.KeyPair && typeof r.pubkey === 'string' && typeof r.privkey === 'string',
    asymEncrypt: (r) => typeof r === 'string',
    asymSign: (r) => typeof r === 'string',
    asymVerify: (r) => typeof r === 'boolean',
    randomGenerate: (r) => typeof r === 'string',
  };
  checks.symDecrypt = checks.symEncrypt;
  checks.asymDecrypt = checks.symEncrypt;
  checks.asymGenerateKeyTest = checks.asymGenerateKey;
  let thrown = 0;
  for (let i = 0; i < 20_000; i++) {
    const name = pick(FUNCTIONS);
    const args = Array.from({ length: Math.floor(rand() * 7) }, () => (rand() < 0.5 ? nearValid() : pick(pool)));
    // Key generation with a valid RSA size is real work; keep it to the cheap sizes.
    if (name.startsWith('asymGenerateKey') && typeof args[1] === 'number' && Math.abs(args[1] | 0) > 1024) args[1] = 512;
    if (name === 'randomGenerate' && typeof args[0] === 'number' && (args[0] | 0) > 4096) args[0] = 4096;
    let result;
    try {
      result = m[name](...args);
    } catch (e) {
      thrown++;
      assert.ok(e instanceof Error, `${name} threw a non-Error: ${String(e)}`);
      continue;
    }
    assert.ok(checks[name](result), `${name} returned ${typeof result}`);
  }
  assert.ok(thrown > 0);
});

// --- memory -------------------------------------------------------------------

// Under the sanitizers (scripts/sanitize-js.sh) freed memory sits in
// AddressSanitizer's quarantine and every call is several times slower: the
// memory tests then run a tenth of the calls, for the access checks alone,
// without the resident-memory bounds.
const sanitized = process.env.TARNWICK_SANITIZED === '1';
const scale = sanitized ? 10 : 1;

function runChild(code) {
  return execFileSync(process.execPath, ['--expose-gc', '-e', code], {
    env: { ...process.env, TARNWICK_MODULE: modulePath, STRESS_SCALE: String(scale) },
    encoding: 'utf8',
    stdio: ['ignore', 'pipe', 'inherit'],
    timeout: 150_000,
  });
}

test('100,000 mixed calls, failures included, keep resident memory flat', () => {
  const out = runChild(`
    const m = require(process.env.TARNWICK_MODULE);
    const data = [...Buffer.from('mixed calls keep memory flat')];
    const kp = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);
    const rsa = m.asymGenerateKey(m.AsymAlgorithm.RSA, 1024);
    const key = m.symGenerateKey(m.SymAlgorithm.SM4CBC);
    const iv = m.randomGenerate(16);
    const sig = m.asymSign(m.SignAlgorithm.SM3WithSM2, data, kp.privkey, '');
    const ops = [
      () => m.symDecrypt(m.SymAlgorithm.SM4CBC, m.symEncrypt(m.SymAlgorithm.SM4CBC, data, key, iv), key, iv),
      () => m.symDecrypt(m.SymAlgorithm.SM4GCM, data, key, iv),                // tag mismatch
      () => m.symEncrypt(m.SymAlgorithm.AES256CBC, data, key, iv),             // wrong key length
      () => m.symDecrypt(m.SymAlgorithm.AES128CBC, m.symEncrypt(m.SymAlgorithm.AES128CBC, data, key, iv), key, iv),
      () => m.randomGenerate(64),
      () => m.randomGenerate(0),
      () => m.asymDecrypt(m.AsymAlgorithm.SM2, m.asymEncrypt(m.AsymAlgorithm.SM2, data, kp.pubkey), kp.privkey),
      () => m.asymDecrypt(m.AsymAlgorithm.SM2, 'MAA=', kp.privkey),
      () => m.asymVerify(m.SignAlgorithm.SM3WithSM2, data, sig, kp.pubkey, ''),
      () => m.asymVerify(m.SignAlgorithm.SM3WithSM2, data, sig, rsa.pubkey, ''),
      () => m.asymSign(m.SignAlgorithm.SM3, data, 'AAAA', ''),
      () => m.asymEncrypt(m.AsymAlgorithm.RSA, data, kp.pubkey),
      () => m.asymDecrypt(m.AsymAlgorithm.RSA, m.asymEncrypt(m.AsymAlgorithm.RSA, data, rsa.pubkey), kp.privkey),
      () => m.asymGenerateKey(m.AsymAlgorithm.RSA, 100),
      () => m.symEncrypt(99, data, key, iv),
    ];
    let failures = 0;
    const run = (n) => { for (let i = 0; i < n; i++) { try { ops[i % ops.length](); } catch { failures++; } } };
    const scale = Number(process.env.STRESS_SCALE);
    run(10_000 / scale);
    gc(); gc();
    const before = process.memoryUsage.rss();
    run(90_000 / scale);
    gc(); gc();
    const after = process.memoryUsage.rss();
    console.log(JSON.stringify({ before, after, failures }));
  `);
  const { before, after, failures } = JSON.parse(out);
  assert.ok(failures > 40_000 / scale, `failures ${failures}`);
  if (sanitized) return;
  const grownMb = (after - before) / 2 ** 20;
  assert.ok(grownMb < 48, `resident memory grew by ${grownMb.toFixed(1)} MiB after warm-up`);
});

test('KeyPair instances are finalized and their memory returned', () => {
  const out = runChild(`
    const m = require(process.env.TARNWICK_MODULE);
    let finalized = 0;
    const registry = new FinalizationRegistry(() => { finalized++; });
    const make = (n) => {
      for (let i = 0; i < n; i++) {
        const kp = m.asymGenerateKeyTest(m.AsymAlgorithm.SM2, 0);
        if (kp.pubkey.length !== 130) throw new Error('pubkey');
        registry.register(kp, i);
      }
    };
    const settle = async () => { for (let i = 0; i < 10; i++) { gc(); await new Promise((r) => setImmediate(r)); } };
    (async () => {
      const scale = Number(process.env.STRESS_SCALE);
      make(3000 / scale);
      await settle();
      const before = process.memoryUsage.rss();
      make(12000 / scale);
      await settle();
      const after = process.memoryUsage.rss();
      console.log(JSON.stringify({ finalized, before, after }));
    })();
  `);
  const { finalized, before, after } = JSON.parse(out);
  assert.ok(finalized >= 14_000 / scale, `only ${finalized} of ${15_000 / scale} KeyPairs finalized`);
  if (sanitized) return;
  const grownMb = (after - before) / 2 ** 20;
  assert.ok(grownMb < 32, `resident memory grew by ${grownMb.toFixed(1)} MiB over 12,000 dropped KeyPairs`);
});
