'use strict';
// Byte data across the boundary: the module's conversions against the
// element-by-element path they replace, in one process, interleaved. The
// element-by-element path is the fault-injection build with scripts refused
// (TARNWICK_FAULT=napi_run_script:), which converts every array one element
// at a time through Node-API. No assertions: this is a measurement, run by
// hand on one pinned core:
//   taskset -c 3 node bench/bytes_bench.js [sizes]     (default 1,2,...,65536)
// TARNWICK_MODULE and TARNWICK_FAULTS_MODULE pick the builds (default build/).
// Rows: median ns per call over rounds, for
//   in    asymVerify(SM3WithSM2, data, '', '', '') - converts data, then answers
//         false at once (empty signature)
//   inout symEncrypt(SM4OFB, data, ...) - converts data in and n bytes out
process.env.TARNWICK_FAULT = 'napi_run_script:';
const path = require('node:path');

const root = path.join(__dirname, '..');
const fast = require(process.env.TARNWICK_MODULE || path.join(root, 'build', 'tarnwick.node'));
const slow = require(process.env.TARNWICK_FAULTS_MODULE || path.join(root, 'build', 'tarnwick_faults.node'));

const sizes = (process.argv[2] || '1,2,3,4,6,8,12,16,32,64,256,1024,16384,65536').split(',').map(Number);
const key = Buffer.alloc(16, 1).toString('base64');
const iv = Buffer.alloc(16, 2).toString('base64');

// time returns ns per call of fn, run in batches long enough to read a clock.
function time(fn, budgetNs) {
  let n = 1;
  for (;;) {
    const start = process.hrtime.bigint();
    for (let i = 0; i < n; i++) fn();
    const ns = Number(process.hrtime.bigint() - start);
    if (ns >= budgetNs) return ns / n;
    n *= 2;
  }
}

const median = (xs) => xs.slice().sort((a, b) => a - b)[xs.length >> 1];

console.log('size  row    element-loop ns   module ns   speedup');
for (const size of sizes) {
  const data = Array.from({ length: size }, (_, i) => (i * 131 + 7) & 0xff);
  const rows = {
    in: (m) => () => m.asymVerify(m.SignAlgorithm.SM3WithSM2, data, '', '', ''),
    inout: (m) => () => m.symEncrypt(m.SymAlgorithm.SM4OFB, data, key, iv),
  };
  for (const [name, make] of Object.entries(rows)) {
    const f = make(fast);
    const s = make(slow);
    for (let i = 0; i < 200; i++) { f(); s(); }
    const tf = [];
    const ts = [];
    for (let round = 0; round < 15; round++) {
      ts.push(time(s, 2e6));
      tf.push(time(f, 2e6));
    }
    const a = median(ts);
    const b = median(tf);
    console.log(`${String(size).padStart(5)}  ${name.padEnd(5)} ${a.toFixed(0).padStart(14)} ${b.toFixed(0).padStart(11)} ${(a / b).toFixed(2).padStart(8)}x`);
  }
}
