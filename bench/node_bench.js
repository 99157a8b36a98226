'use strict';
// Times calls through the built module from Node. No assertions: this is a
// measurement, run by hand on one pinned core:
//   taskset -c 3 node bench/node_bench.js [rounds]
// TARNWICK_MODULE picks the build (default build/tarnwick.node); figures worth
// quoting come from a Release build (cmake -DCMAKE_BUILD_TYPE=Release).
//
// First table: symEncrypt(SM4CBC) beside node:crypto's sm4-cbc on Buffers,
// in one process, interleaved round by round. Each cell is the median ns per
// call over the rounds; "ratio" is the peer's time over ours (1.0 = as fast
// as the peer). Two more columns help split our time: SM4ECB is the same
// call with the cheapest SM4 mode, and "data in" converts the same data
// argument and nothing else (asymVerify with an empty signature answers
// false right after converting its arguments). bench/conversion_share.sh
// splits one call's time between SM4 and the conversions.
const crypto = require('node:crypto');
const path = require('node:path');

const modulePath = process.env.TARNWICK_MODULE || path.join(__dirname, '..', 'build', 'tarnwick.node');
const m = require(modulePath);
const rounds = Number(process.argv[2]) || 21;

// nsPerCall runs fn in batches that double until one takes `budget` ns.
function nsPerCall(fn, budget = 5e6) {
  for (let n = 1; ; n *= 2) {
    const start = process.hrtime.bigint();
    for (let i = 0; i < n; i++) fn();
    const ns = Number(process.hrtime.bigint() - start);
    if (ns >= budget) return ns / n;
  }
}

const median = (xs) => xs.slice().sort((a, b) => a - b)[xs.length >> 1];

const key = Buffer.alloc(16, 1);
const iv = Buffer.alloc(16, 2);
const key64 = key.toString('base64');
const iv64 = iv.toString('base64');
const S = m.SymAlgorithm;
const { SM2 } = m.AsymAlgorithm;
const { SM3WithSM2 } = m.SignAlgorithm;

console.log(`module: ${modulePath}, ${rounds} rounds, node ${process.version}`);
console.log('size      node sm4-cbc     SM4CBC   ratio     SM4ECB    data in   (median ns per call)');
for (const size of [16, 1024, 16384]) {
  const bytes = crypto.randomBytes(size);
  const array = [...bytes];
  const rows = {
    peer: () => {
      const c = crypto.createCipheriv('sm4-cbc', key, iv);
      return Buffer.concat([c.update(bytes), c.final()]);
    },
    cbc: () => m.symEncrypt(S.SM4CBC, array, key64, iv64),
    ecb: () => m.symEncrypt(S.SM4ECB, array, key64, ''),
    in: () => m.asymVerify(SM3WithSM2, array, '', '', ''),
  };
  const times = Object.fromEntries(Object.keys(rows).map((k) => [k, []]));
  for (const fn of Object.values(rows)) for (let i = 0; i < 100; i++) fn();
  for (let r = 0; r < rounds; r++) {
    for (const [k, fn] of Object.entries(rows)) times[k].push(nsPerCall(fn));
  }
  const t = Object.fromEntries(Object.entries(times).map(([k, v]) => [k, median(v)]));
  const cell = (v, w = 10) => v.toFixed(0).padStart(w);
  console.log(`${String(size).padEnd(6)}${cell(t.peer, 14)} ${cell(t.cbc)} ${(t.peer / t.cbc).toFixed(2).padStart(6)}x ${cell(t.ecb)} ${cell(t.in)}`);
}

// Second table: a few other calls, operations per second.
function time(name, n, fn) {
  for (let i = 0; i < Math.min(50, n); ++i) fn(); // warm-up
  const start = process.hrtime.bigint();
  for (let i = 0; i < n; ++i) fn();
  const ns = Number(process.hrtime.bigint() - start);
  const perOp = ns / n;
  console.log(`${name.padEnd(40)} ${(1e9 / perOp).toFixed(0).padStart(10)} ops/s  ${(perOp / 1000).toFixed(1).padStart(9)} us/op`);
}

const iterations = 2000;
const data1k = Array.from({ length: 1024 }, (_, i) => (i * 31 + 7) & 0xff);
const data100 = data1k.slice(0, 100);
const kp = m.asymGenerateKey(SM2, 256);
const sig = m.asymSign(SM3WithSM2, data100, kp.privkey, '');
console.log();
time('symEncrypt AES128CBC 1 KiB', iterations, () => m.symEncrypt(S.AES128CBC, data1k, key64, iv64));
time('asymSign SM3WithSM2 100 B', iterations >> 2, () => m.asymSign(SM3WithSM2, data100, kp.privkey, ''));
time('asymVerify SM3WithSM2 100 B', iterations >> 2, () => m.asymVerify(SM3WithSM2, data100, sig, kp.pubkey, ''));
time('randomGenerate 32', iterations, () => m.randomGenerate(32));
