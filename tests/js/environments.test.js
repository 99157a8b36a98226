'use strict';
// Environments that come and go (workers one after another, registrations
// that run user code or fail half-way) and the runtime's worker count.
const test = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { modulePath } = require('./helpers');

const faultsModule = process.env.TARNWICK_FAULTS_MODULE ||
  path.join(__dirname, '..', '..', 'build', 'tarnwick_faults.node');

// runNode runs `script` in a child node and returns its last output line
// as JSON, after checking that the child exited normally.
function runNode(script, env = {}) {
  const r = spawnSync(process.execPath, ['-e', script], {
    env: { ...process.env, TARNWICK_MODULE: modulePath, FAULTS_MODULE: faultsModule, ...env },
    encoding: 'utf8',
    timeout: 120000,
  });
  assert.equal(r.signal, null, `child ended by ${r.signal}: ${r.stderr}`);
  assert.equal(r.status, 0, `child exited with ${r.status}: ${r.stderr}`);
  return JSON.parse(r.stdout.trim().split('\n').pop());
}

const NO_CONSTRUCTOR = 'Failed to get constructor of class `KeyPair` in `ToNapiValue`';

test('workers one after another each make KeyPairs; none sees a finished worker\'s class', () => {
  // Even rounds load the module and make a key pair. Odd rounds register
  // into an exports object whose asymGenerateKey setter calls the function
  // at once, before registration has defined the class for that worker: the
  // call must find no constructor, whichever finished worker's thread this
  // one runs on.
  const r = runNode(`
    const { Worker } = require('worker_threads');
    const plain = 'const { parentPort } = require("worker_threads");' +
      'const m = require(process.env.TARNWICK_MODULE);' +
      'const kp = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);' +
      'parentPort.postMessage([kp instanceof m.KeyPair, kp.pubkey.length]);';
    const early = 'const { parentPort } = require("worker_threads");' +
      'const mod = { exports: {} }; let seen = "not called";' +
      'Object.defineProperty(mod.exports, "asymGenerateKey", { configurable: true, enumerable: true,' +
      '  set(f) { try { f(1, 0); seen = "made"; } catch (e) { seen = [e.code, e.message]; } } });' +
      'process.dlopen(mod, process.env.TARNWICK_MODULE);' +
      'parentPort.postMessage(seen);';
    function run(src) {
      return new Promise((resolve, reject) => {
        const w = new Worker(src, { eval: true });
        let got;
        w.on('message', (m) => { got = m; });
        w.on('error', reject);
        w.on('exit', () => resolve(got));
      });
    }
    (async () => {
      const made = [], early_ = [];
      for (let i = 0; i < 12; i++) {
        made.push(JSON.stringify(await run(plain)));
        early_.push(JSON.stringify(await run(early)));
      }
      console.log(JSON.stringify({ made: [...new Set(made)], early: [...new Set(early_)] }));
    })();`);
  assert.deepEqual(r.made, [JSON.stringify([true, 124])]);
  assert.deepEqual(r.early, [JSON.stringify(['InvalidArg', NO_CONSTRUCTOR])]);
});

test('an exception of any type during registration is thrown as GenericFailure', () => {
  const probe = `
    const mod = { exports: {} };
    let load = null;
    try { process.dlopen(mod, process.env.FAULTS_MODULE); } catch (e) { load = [e.code, e.message]; }
    console.log(JSON.stringify({ load, keys: Object.keys(mod.exports).length }));`;
  const cases = [
    ['throw:napi_define_class:KeyPair', ['GenericFailure', 'injected fault']],
    ['throw-other:napi_define_class:KeyPair', ['GenericFailure', 'unknown exception']],
  ];
  for (const [fault, load] of cases) {
    const r = runNode(probe, { TARNWICK_FAULT: fault });
    // The thirteen exports were defined before the class failed.
    assert.deepEqual(r, { load, keys: 13 }, fault);
  }
});

test('TOKIO_WORKER_THREADS is an unsigned decimal count: an optional plus sign, then digits only', () => {
  // An unsigned decimal count: an optional '+', then ASCII digits only.
  // Anything else, zero, or a value beyond 64 bits leaves the variable unused
  // (the CPU count); a count is capped at 512.
  const cpus = os.availableParallelism();
  const cases = [
    ['3', 3], ['+3', 3], ['003', 3], ['+0003', 3], ['600', 512],
    ['-3', cpus], ['+-3', cpus], ['++3', cpus], ['+', cpus], ['', cpus], [' 3', cpus], ['3 ', cpus],
    ['0x3', cpus], ['3.0', cpus], ['0', cpus], ['+0', cpus], ['18446744073709551616', cpus],
  ];
  const script = `
    const fs = require('fs');
    require(process.env.TARNWICK_MODULE).randomGenerate(1);
    console.log(JSON.stringify(fs.readdirSync('/proc/self/task').filter((t) => {
      try { return fs.readFileSync('/proc/self/task/' + t + '/comm', 'utf8').trim() === 'tokio-runtime-w'; }
      catch { return false; }
    }).length));`;
  for (const [value, want] of cases) {
    assert.equal(runNode(script, { TOKIO_WORKER_THREADS: value }), want, JSON.stringify(value));
  }
});
