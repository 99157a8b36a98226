'use strict';
// Times a few calls through the built module for a fixed number of
// iterations and prints operations per second. No assertions: this is a
// measurement, run by hand:  node bench/node_bench.js [iterations]
const path = require('node:path');

const modulePath = process.env.TARNWICK_MODULE || path.join(__dirname, '..', 'build', 'tarnwick.node');
const m = require(modulePath);

const iterations = Number(process.argv[2]) || 2000;

function time(name, n, fn) {
  for (let i = 0; i < Math.min(50, n); ++i) fn(); // warm-up
  const start = process.hrtime.bigint();
  for (let i = 0; i < n; ++i) fn();
  const ns = Number(process.hrtime.bigint() - start);
  const perOp = ns / n;
  console.log(`${name.padEnd(40)} ${(1e9 / perOp).toFixed(0).padStart(10)} ops/s  ${(perOp / 1000).toFixed(1).padStart(9)} us/op`);
}

const S = m.SymAlgorithm;
const { SM2 } = m.AsymAlgorithm;
const { SM3WithSM2 } = m.SignAlgorithm;

const data1k = Array.from({ length: 1024 }, (_, i) => (i * 31 + 7) & 0xff);
const data100 = data1k.slice(0, 100);
const key = Buffer.alloc(16, 1).toString('base64');
const iv = Buffer.alloc(16, 2).toString('base64');
const kp = m.asymGenerateKey(SM2, 256);
const sig = m.asymSign(SM3WithSM2, data100, kp.privkey, '');

console.log(`module: ${modulePath}, ${iterations} iterations (SM2 rows: a quarter)`);
time('symEncrypt SM4CBC 1 KiB', iterations, () => m.symEncrypt(S.SM4CBC, data1k, key, iv));
time('symEncrypt AES128CBC 1 KiB', iterations, () => m.symEncrypt(S.AES128CBC, data1k, key, iv));
time('asymSign SM3WithSM2 100 B', iterations >> 2, () => m.asymSign(SM3WithSM2, data100, kp.privkey, ''));
time('asymVerify SM3WithSM2 100 B', iterations >> 2, () => m.asymVerify(SM3WithSM2, data100, sig, kp.pubkey, ''));
time('randomGenerate 32', iterations, () => m.randomGenerate(32));
