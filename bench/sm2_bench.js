'use strict';
// The SM2 speed table: the module's exported functions beside OpenSSL 3.0 in
// one run, round after round, with medians and ratios. No assertions: a
// measurement, run by hand on one pinned core, for example
//   taskset -c 3 node bench/sm2_bench.js [rounds]
// The peers: `openssl speed sm2` for signing and verification (SM3 with SM2
// over a message, the default ID), and libcrypto's EVP_PKEY_keygen,
// EVP_PKEY_encrypt and EVP_PKEY_decrypt on an already parsed key for the
// rest, through the sm2_peer rows of bench/bench_sm2.cpp (built by
// bench/run.sh). TARNWICK_MODULE selects the module (default
// build/tarnwick.node, the one scripts/setup.sh builds).
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const modulePath = path.resolve(process.env.TARNWICK_MODULE || path.join(root, 'build', 'tarnwick.node'));
const m = require(modulePath);
const rounds = Number(process.argv[2]) || 5;
const seconds = Number(process.env.SM2_BENCH_SECONDS) || 1;

const { SM2 } = m.AsymAlgorithm;
const { SM3WithSM2 } = m.SignAlgorithm;
const data32 = Array.from({ length: 32 }, (_, i) => (i * 31 + 7) & 0xff);
const kp = m.asymGenerateKey(SM2, 256);
const sig = m.asymSign(SM3WithSM2, data32, kp.privkey, '');
const ct = m.asymEncrypt(SM2, data32, kp.pubkey);
if (!m.asymVerify(SM3WithSM2, data32, sig, kp.pubkey, '')) throw new Error('set-up: signature does not verify');
if (m.asymDecrypt(SM2, ct, kp.privkey).join() !== data32.join()) throw new Error('set-up: decryption differs');

// usPerCall runs `fn` for about `seconds` and returns microseconds per call.
function usPerCall(fn) {
  for (let i = 0; i < 20; ++i) fn();
  let n = 0;
  const start = process.hrtime.bigint();
  const budget = BigInt(Math.round(seconds * 1e9));
  let elapsed = 0n;
  while (elapsed < budget) {
    for (let i = 0; i < 50; ++i) fn();
    n += 50;
    elapsed = process.hrtime.bigint() - start;
  }
  return Number(elapsed) / n / 1000;
}

const ours = {
  sign: () => usPerCall(() => m.asymSign(SM3WithSM2, data32, kp.privkey, '')),
  verify: () => usPerCall(() => m.asymVerify(SM3WithSM2, data32, sig, kp.pubkey, '')),
  encrypt: () => usPerCall(() => m.asymEncrypt(SM2, data32, kp.pubkey)),
  decrypt: () => usPerCall(() => m.asymDecrypt(SM2, ct, kp.privkey)),
  keygen: () => usPerCall(() => m.asymGenerateKey(SM2, 256)),
};

function opensslSpeed() {
  const out = execFileSync('openssl', ['speed', '-seconds', String(Math.max(1, Math.round(seconds))), 'sm2'], {
    encoding: 'utf8',
    stdio: ['ignore', 'pipe', 'ignore'],
  });
  const line = out.split('\n').find((l) => /SM2 \(CurveSM2\)/.test(l));
  if (!line) throw new Error('no SM2 line in `openssl speed sm2`');
  const f = line.trim().split(/\s+/);
  // ... sign verify sign/s verify/s
  return { sign: 1e6 / Number(f[f.length - 2]), verify: 1e6 / Number(f[f.length - 1]) };
}

function opensslPeer() {
  const out = execFileSync(
    path.join(root, 'bench', 'run.sh'),
    ['--benchmark_filter=^sm2_peer/', '--benchmark_format=json', `--benchmark_min_time=${seconds}`],
    { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] },
  );
  const rows = JSON.parse(out).benchmarks;
  const us = (name) => {
    const r = rows.find((b) => b.name === `sm2_peer/${name}`);
    if (!r) throw new Error(`missing peer row ${name}`);
    const scale = { ns: 1e-3, us: 1, ms: 1e3 }[r.time_unit];
    return r.real_time * scale;
  };
  return { keygen: us('openssl_keygen'), encrypt: us('openssl_encrypt_32B'), decrypt: us('openssl_decrypt_32B') };
}

const rows = [
  ['sign', 'asymSign SM3WithSM2 (32 B)', 14],
  ['verify', 'asymVerify SM3WithSM2 (32 B)', 7],
  ['encrypt', 'asymEncrypt SM2, 32 B', 11],
  ['decrypt', 'asymDecrypt SM2, 32 B', 6],
  ['keygen', 'asymGenerateKey SM2', 18],
];
const samples = { ours: {}, openssl: {} };
for (const [op] of rows) {
  samples.ours[op] = [];
  samples.openssl[op] = [];
}

console.log(`module: ${modulePath}; ${rounds} rounds of about ${seconds} s per operation and side`);
for (let r = 0; r < rounds; ++r) {
  for (const [op] of rows) samples.ours[op].push(ours[op]());
  const speed = opensslSpeed();
  const peer = opensslPeer();
  for (const [op] of rows) samples.openssl[op].push(op in speed ? speed[op] : peer[op]);
  process.stderr.write(`round ${r + 1}/${rounds} done\n`);
}

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  const h = s.length >> 1;
  return s.length % 2 ? s[h] : (s[h - 1] + s[h]) / 2;
};
// The ratio column is the median of the per-round ratios (each round times
// both sides within seconds of each other); min and max show the spread.
console.log(
  `${'operation'.padEnd(30)} ${'ours µs'.padStart(8)} ${'OpenSSL µs'.padStart(10)} ${'ratio'.padStart(7)}` +
    ` ${'min–max'.padStart(13)} ${'goal'.padStart(6)}`,
);
for (const [op, name, goal] of rows) {
  const o = median(samples.ours[op]);
  const p = median(samples.openssl[op]);
  const ratios = samples.ours[op].map((x, i) => samples.openssl[op][i] / x);
  const spread = `${Math.min(...ratios).toFixed(2)}–${Math.max(...ratios).toFixed(2)}`;
  console.log(
    `${name.padEnd(30)} ${o.toFixed(1).padStart(8)} ${p.toFixed(1).padStart(10)} ${median(ratios).toFixed(2).padStart(6)}×` +
      ` ${spread.padStart(13)} ${`≥ ${goal}×`.padStart(6)}`,
  );
}
