'use strict';
// A dudect-style timing test of the SM2 private scalar through the module's
// exported functions (Reparaz, Balasch, Verbauwhede, "Dude, is my code
// constant time?", 2017): two classes of calls interleaved at random, class
// 0 with the fixed scalar d = 2^255 + 1 and class 1 with a random d of the
// same length, and Welch's t over the raw timings and over timings cropped
// at upper percentiles. |t| above 4.5 would mean that the time depends on d,
// provided the A/A run beside it (random d in both classes) stays below 4.5.
// It prints |t| and asserts nothing. Run on one pinned core:
//   taskset -c 3 node bench/sm2_dudect.js [calls per class, default 3000]
// The nonce half of the test (k fixed vs random through the random-source
// test hook) is the sm2_dudect row of bench/bench_sm2.cpp.
const path = require('node:path');
const crypto = require('node:crypto');

const modulePath = path.resolve(process.env.TARNWICK_MODULE || path.join(__dirname, '..', 'build', 'tarnwick.node'));
const m = require(modulePath);
const perClass = Number(process.argv[2]) || 3000;

// ---- SM2 curve arithmetic in BigInt, only to make the public keys that
// encryption needs (GB/T 32918.5 parameters).
const P = 0xfffffffeffffffffffffffffffffffffffffffff00000000ffffffffffffffffn;
const N = 0xfffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54123n;
const G = [
  0x32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7n,
  0xbc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0n,
];
const mod = (x) => ((x % P) + P) % P;
function pow(b, e) {
  let r = 1n;
  for (b = mod(b); e > 0n; e >>= 1n, b = (b * b) % P) if (e & 1n) r = (r * b) % P;
  return r;
}
// Jacobian points [x, y, z]; z = 0 is infinity.
function dbl([x, y, z]) {
  if (z === 0n) return [1n, 1n, 0n];
  const d = (z * z) % P, g = (y * y) % P, b = (x * g) % P;
  const a = mod(3n * (x - d) * (x + d));
  const x3 = mod(a * a - 8n * b);
  return [x3, mod(a * (4n * b - x3) - 8n * g * g), mod(2n * y * z)];
}
function add(p, q) {
  if (p[2] === 0n) return q;
  if (q[2] === 0n) return p;
  const z1z1 = (p[2] * p[2]) % P, z2z2 = (q[2] * q[2]) % P;
  const u1 = (p[0] * z2z2) % P, u2 = (q[0] * z1z1) % P;
  const s1 = (p[1] * q[2] * z2z2) % P, s2 = (q[1] * p[2] * z1z1) % P;
  const h = mod(u2 - u1), r = mod(s2 - s1);
  if (h === 0n) return r === 0n ? dbl(p) : [1n, 1n, 0n];
  const hh = (h * h) % P, hhh = (h * hh) % P, v = (u1 * hh) % P;
  const x3 = mod(r * r - hhh - 2n * v);
  return [x3, mod(r * (v - x3) - s1 * hhh), (p[2] * q[2] * h) % P];
}
function mulG(k) {
  let r = [1n, 1n, 0n];
  for (let i = 255; i >= 0; --i) {
    r = dbl(r);
    if ((k >> BigInt(i)) & 1n) r = add(r, [G[0], G[1], 1n]);
  }
  const zi = pow(r[2], P - 2n);
  return [(r[0] * zi * zi) % P, (r[1] * zi * zi * zi) % P];
}

// ---- key documents
const hex32 = (v) => v.toString(16).padStart(64, '0');
const ALG = '301306072a8648ce3d020106082a811ccf5501822d';
// PKCS#8 {0, AlgorithmIdentifier, OCTET STRING {ECPrivateKey {1, d}}}: the
// same 67-byte layout for every 32-byte d (the reader needs no public key).
function privateKeyText(d) {
  const sec1 = `3025020101${'0420'}${hex32(d)}`;
  return Buffer.from(`3041020100${ALG}0427${sec1}`, "hex").toString("base64");
}
function publicKeyText([x, y]) {
  return Buffer.from(`3059${ALG}03420004${hex32(x)}${hex32(y)}`, 'hex').toString('base64');
}
// randomD returns a random d with its top bit set, below n.
function randomD() {
  for (;;) {
    const d = BigInt(`0x${crypto.randomBytes(32).toString('hex')}`) | (1n << 255n);
    if (d < N - 1n) return d;
  }
}

// ---- statistics
function welch(a, b) {
  const mean = (xs) => xs.reduce((s, x) => s + x, 0) / xs.length;
  const variance = (xs, mu) => xs.reduce((s, x) => s + (x - mu) * (x - mu), 0) / (xs.length - 1);
  const ma = mean(a), mb = mean(b);
  return (ma - mb) / Math.sqrt(variance(a, ma) / a.length + variance(b, mb) / b.length);
}
const CROPS = [0.5, 0.75, 0.9, 0.95, 0.99];
function report(name, times) {
  const all = [...times[0], ...times[1]].sort((x, y) => x - y);
  const cropped = CROPS.map((q) => {
    const limit = all[Math.floor(q * (all.length - 1))];
    return Math.abs(welch(times[0].filter((x) => x <= limit), times[1].filter((x) => x <= limit)));
  });
  const med = (xs) => [...xs].sort((x, y) => x - y)[xs.length >> 1] / 1000;
  console.log(
    `${name.padEnd(38)} |t| raw ${Math.abs(welch(times[0], times[1])).toFixed(2).padStart(7)}` +
      `  cropped max ${Math.max(...cropped).toFixed(2).padStart(7)}` +
      `  (${CROPS.map((q, i) => `p${q * 100} ${cropped[i].toFixed(2)}`).join(', ')})` +
      `  medians ${med(times[0]).toFixed(1)} / ${med(times[1]).toFixed(1)} µs`,
  );
}

// shuffledClasses returns `count` class labels of each class, 0 and 1, in
// random order, balanced in pairs: each pair of consecutive labels holds
// one of each class, the first drawn at random. A burst of noise on the
// machine that outlasts a call or two then falls on both classes alike.
function shuffledClasses(count) {
  const classes = new Uint8Array(2 * count);
  const bits = crypto.randomBytes(count);
  for (let i = 0; i < count; ++i) {
    classes[2 * i] = bits[i] & 1;
    classes[2 * i + 1] = 1 - (bits[i] & 1);
  }
  return classes;
}

// run times `call(i)` for i = 0 … classes.length − 1, in that order; call i
// belongs to class classes[i]. The inputs of call i are the i-th entry of
// one array whose entries were made in the same order, so the two classes
// are interleaved at random in memory as in time. The first 200 calls run
// once untimed first, to warm up.
function run(name, classes, call) {
  for (let i = 0; i < 200; ++i) call(i);
  const n = classes.length;
  const elapsed = new Float64Array(n);
  for (let i = 0; i < n; ++i) {
    const t0 = process.hrtime.bigint();
    call(i);
    elapsed[i] = Number(process.hrtime.bigint() - t0);
  }
  const times = [[], []];
  for (let i = 0; i < n; ++i) times[classes[i]].push(elapsed[i]);
  report(name, times);
}

const { SM2 } = m.AsymAlgorithm;
const { SM3WithSM2 } = m.SignAlgorithm;
const data = Array.from({ length: 32 }, (_, i) => i);
const fixedD = (1n << 255n) + 1n;

console.log(`module: ${modulePath}; ${perClass} calls per class; class 0: d = 2^255 + 1, class 1: random d`);

// Each test runs twice: with the fixed d against random ones, and then with
// a random d in both classes (an A/A run), which shows the noise floor of
// |t| on this machine in the same run.
//
// Signing: one array of key documents, one per call, each of the class the
// shuffled labels give it.
function signTest(name, dOfClass0) {
  const classes = shuffledClasses(perClass);
  const keys = Array.from(classes, (cls) => privateKeyText(cls === 0 ? dOfClass0() : randomD()));
  run(name, classes, (i) => m.asymSign(SM3WithSM2, data, keys[i], ''));
}

// Decryption: each key decrypts a ciphertext made for it, so both classes
// succeed. One pool of 128 (key, ciphertext) entries holds both classes
// interleaved at random: class 0's 64 all made for its one d, class 1's
// each for a random d of its own. Each call takes a random entry of its
// class from that pool.
function decryptTest(name, d0) {
  const public0 = publicKeyText(mulG(d0));
  const poolClasses = shuffledClasses(64);
  const pool = Array.from(poolClasses, (cls) => {
    if (cls === 0) return { key: privateKeyText(d0), ct: m.asymEncrypt(SM2, data, public0) };
    const d = randomD();
    return { key: privateKeyText(d), ct: m.asymEncrypt(SM2, data, publicKeyText(mulG(d))) };
  });
  for (const e of pool) {
    if (m.asymDecrypt(SM2, e.ct, e.key).join() !== data.join()) throw new Error('set-up: a key does not decrypt');
  }
  const ofClass = [[], []];
  poolClasses.forEach((cls, j) => ofClass[cls].push(j));
  const classes = shuffledClasses(perClass);
  const picks = Array.from(classes, (cls) => ofClass[cls][crypto.randomInt(64)]);
  run(name, classes, (i) => {
    const e = pool[picks[i]];
    return m.asymDecrypt(SM2, e.ct, e.key);
  });
}

signTest('asymSign SM3WithSM2, d fixed vs random', () => fixedD);
signTest('  A/A: random d vs random d', randomD);
decryptTest('asymDecrypt SM2 32 B, d fixed vs random', fixedD);
decryptTest('  A/A: random d vs random d', randomD());
