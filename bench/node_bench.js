'use strict';
// Times calls through the built module from Node. No assertions: this is a
// measurement, run by hand on one pinned core:
//   taskset -c 3 node bench/node_bench.js [rounds]
// TARNWICK_MODULE picks the build (default build/tarnwick.node); figures worth
// quoting come from a Release build (cmake -DCMAKE_BUILD_TYPE=Release).
//
// First table: symEncrypt(SM4CBC) beside node:crypto's sm4-cbc on Buffers
// and beside the floor for this interface, in one process, interleaved round
// by round. The floor is what plain JavaScript pays for the same call shape:
// a loop that copies the input Array into a Uint8Array, node:crypto's
// sm4-cbc, and a loop that builds the result Array. Each cell is the median
// ns per call over the rounds, with the spread (lowest and highest round) in
// brackets; "vs node" and "vs floor" are the peer's time over ours (1.0 = as
// fast as the peer). Two more columns help split our time: SM4ECB is the
// same call with the cheapest SM4 mode, and "data in" converts the same data
// argument and nothing else (asymVerify with an empty signature answers
// false right after converting its arguments). bench/conversion_share.sh
// splits one call's time between SM4 and the conversions.
// TARNWICK_BASELINE_MODULE adds another build's SM4CBC to the same rounds
// (for instance the build of an earlier commit) and its time over ours.
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

const baselinePath = process.env.TARNWICK_BASELINE_MODULE;
const baseline = baselinePath ? require(baselinePath) : null;

// floor does what the module's call does, in plain JavaScript around
// node:crypto: byte data in, sm4-cbc, byte result out.
function floor(array) {
  const input = new Uint8Array(array.length);
  for (let i = 0; i < array.length; i++) input[i] = array[i];
  const c = crypto.createCipheriv('sm4-cbc', key, iv);
  const out = Buffer.concat([c.update(input), c.final()]);
  const result = new Array(out.length);
  for (let i = 0; i < out.length; i++) result[i] = out[i];
  return result;
}

console.log(`module: ${modulePath}, ${rounds} rounds, node ${process.version}`);
if (baseline) console.log(`baseline: ${baselinePath}`);
const cell = (v, w = 10) => v.toFixed(0).padStart(w);
const spread = (v) => `[${v[0].toFixed(0)}..${v[v.length - 1].toFixed(0)}]`;
const header = ['size', 'node sm4-cbc', 'JS floor', 'SM4CBC', 'vs node', 'vs floor', 'SM4ECB', 'data in'];
if (baseline) header.push('baseline', 'base/ours');
console.log(header.join('  '), '  (median ns per call)');
for (const size of [16, 1024, 16384, 65536, 1 << 20]) {
  const bytes = crypto.randomBytes(size);
  const array = [...bytes];
  const rows = {
    peer: () => {
      const c = crypto.createCipheriv('sm4-cbc', key, iv);
      return Buffer.concat([c.update(bytes), c.final()]);
    },
    floor: () => floor(array),
    cbc: () => m.symEncrypt(S.SM4CBC, array, key64, iv64),
    ecb: () => m.symEncrypt(S.SM4ECB, array, key64, ''),
    in: () => m.asymVerify(SM3WithSM2, array, '', '', ''),
  };
  if (baseline) rows.base = () => baseline.symEncrypt(baseline.SymAlgorithm.SM4CBC, array, key64, iv64);
  const times = Object.fromEntries(Object.keys(rows).map((k) => [k, []]));
  const warm = size >= 1 << 20 ? 3 : 100;
  for (const fn of Object.values(rows)) for (let i = 0; i < warm; i++) fn();
  const sizeRounds = size >= 1 << 20 ? Math.min(rounds, 7) : rounds;
  for (let r = 0; r < sizeRounds; r++) {
    for (const [k, fn] of Object.entries(rows)) times[k].push(nsPerCall(fn));
  }
  for (const v of Object.values(times)) v.sort((a, b) => a - b);
  const t = Object.fromEntries(Object.entries(times).map(([k, v]) => [k, median(v)]));
  let line = `${String(size).padEnd(8)}${cell(t.peer, 12)} ${cell(t.floor)} ${cell(t.cbc)} ` +
    `${(t.peer / t.cbc).toFixed(2).padStart(7)}x ${(t.floor / t.cbc).toFixed(2).padStart(7)}x ${cell(t.ecb)} ${cell(t.in)}`;
  if (baseline) line += ` ${cell(t.base)} ${(t.base / t.cbc).toFixed(2).padStart(7)}x`;
  console.log(line);
  console.log(`${''.padEnd(8)}${spread(times.peer).padStart(12)} ${spread(times.floor).padStart(10)} ${spread(times.cbc).padStart(10)}`);
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
