'use strict';
// Registration, environments and the idle runtime, as JavaScript sees them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');
const { m, modulePath, throwsWith } = require('./helpers');

function runNode(script, env = {}) {
  return execFileSync(process.execPath, ['-e', script], {
    env: { ...process.env, ...env, TARNWICK_MODULE: modulePath },
    encoding: 'utf8',
    timeout: 60000,
  });
}

test('exports appear in registry order, KeyPair last', () => {
  assert.deepEqual(Object.keys(m), [
    'SymAlgorithm', 'symGenerateKey', 'symEncrypt', 'symDecrypt', 'AsymAlgorithm', 'SignAlgorithm',
    'asymGenerateKey', 'asymGenerateKeyTest', 'asymEncrypt', 'asymDecrypt', 'asymSign', 'asymVerify',
    'randomGenerate', 'KeyPair',
  ]);
  for (const [name, value] of Object.entries(m)) {
    if (typeof value === 'function' && name !== 'KeyPair') assert.equal(value.name, name);
  }
});

test('the exports object handed in is the one returned', () => {
  const mod = { exports: { before: 1 } };
  const original = mod.exports;
  process.dlopen(mod, modulePath);
  assert.equal(mod.exports, original);
  assert.deepEqual(Object.keys(mod.exports).slice(0, 2), ['before', 'SymAlgorithm']);
  // A second load on the same thread registers again without aborting.
  const again = { exports: {} };
  process.dlopen(again, modulePath);
  assert.equal(typeof again.exports.randomGenerate, 'function');
});

const countWorkers = `
  const fs = require('fs');
  function count() {
    return fs.readdirSync('/proc/self/task').filter((t) => {
      try { return fs.readFileSync('/proc/self/task/' + t + '/comm', 'utf8').trim() === 'tokio-runtime-w'; }
      catch { return false; }
    }).length;
  }`;

test('main thread and three workers share one runtime of TOKIO_WORKER_THREADS workers', () => {
  const out = runNode(`${countWorkers}
    const { Worker } = require('worker_threads');
    const m = require(process.env.TARNWICK_MODULE);
    const before = count();
    let done = 0; const seen = [];
    for (let i = 0; i < 3; i++) {
      const w = new Worker('const m = require(process.env.TARNWICK_MODULE);' +
        'require("worker_threads").parentPort.postMessage(Object.keys(m).length + ":" + m.randomGenerate(16).length);',
        { eval: true });
      w.on('message', (msg) => seen.push(msg));
      w.on('exit', () => { if (++done === 3) console.log(JSON.stringify({ before, seen, after: count() })); });
    }`, { TOKIO_WORKER_THREADS: '3' });
  const r = JSON.parse(out);
  assert.equal(r.before, 3);
  assert.deepEqual(r.seen, ['14:24', '14:24', '14:24']);
  assert.equal(r.after, 3);
});

test('workers only: the runtime goes when the last environment does, and comes back', () => {
  const out = runNode(`${countWorkers}
    const { Worker } = require('worker_threads');
    // Each worker loads the module and reports; all stay alive until every
    // one has reported, so they share one runtime while it is counted.
    const src = 'const { parentPort } = require("worker_threads");' +
      'const m = require(process.env.TARNWICK_MODULE); m.randomGenerate(4);' +
      'parentPort.once("message", () => parentPort.close()); parentPort.postMessage("loaded");';
    const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
    async function settle(want) { for (let i = 0; i < 500 && count() !== want; i++) await sleep(10); return count(); }
    function run(n) {
      return new Promise((resolve) => {
        let loaded = 0; let left = n; let during = -1;
        const workers = [];
        for (let i = 0; i < n; i++) {
          const w = new Worker(src, { eval: true });
          workers.push(w);
          w.on('message', () => {
            if (++loaded === n) { during = count(); for (const x of workers) x.postMessage('done'); }
          });
          w.on('exit', () => { if (--left === 0) resolve(during); });
        }
      });
    }
    (async () => {
      const first = await run(2);
      const afterFirst = await settle(0);
      const second = await run(1);
      const afterSecond = await settle(0);
      console.log(JSON.stringify({ first, afterFirst, second, afterSecond }));
    })();`, { TOKIO_WORKER_THREADS: '3' });
  assert.deepEqual(JSON.parse(out), { first: 3, afterFirst: 0, second: 3, afterSecond: 0 });
});

test('TOKIO_WORKER_THREADS that is zero, garbage or huge does not abort', () => {
  for (const value of ['0', 'abc', '-4', '99999999999999999999', '']) {
    const out = runNode(`${countWorkers}
      const m = require(process.env.TARNWICK_MODULE);
      console.log(m.randomGenerate(3).length + ':' + count());`, { TOKIO_WORKER_THREADS: value });
    const [len, workers] = out.trim().split(':').map(Number);
    assert.equal(len, 4, value);
    assert.ok(workers >= 1 && workers <= 512, `${value}: ${workers}`);
  }
});

test('KeyPair cannot be made from JavaScript', () => {
  const text = 'Class contains no `constructor`, can not new it!';
  throwsWith(() => new m.KeyPair(), undefined, text);
  throwsWith(() => m.KeyPair(), undefined, text);
  class Sub extends m.KeyPair {}
  throwsWith(() => new Sub(), undefined, text);
});

test('KeyPair accessors live on the prototype and check their receiver', () => {
  for (const name of ['pubkey', 'privkey']) {
    const d = Object.getOwnPropertyDescriptor(m.KeyPair.prototype, name);
    assert.equal(typeof d.get, 'function');
    assert.equal(typeof d.set, 'function');
    assert.equal(d.enumerable, true);
    assert.equal(d.configurable, true);
    const unwrap = 'Failed to unwrap exclusive reference of `KeyPair` type from napi value';
    throwsWith(() => m.KeyPair.prototype[name], 'InvalidArg', unwrap);
    throwsWith(() => d.get.call({}), 'InvalidArg', unwrap);
    throwsWith(() => d.set.call(m.KeyPair.prototype), 'InvalidArg', '1 arguments required by received 0.');
    throwsWith(() => d.set.call({}, 'x'), 'InvalidArg', unwrap);
  }
});

test('KeyPair instances: setters convert text and keep the old value on failure', () => {
  const kp = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);
  const original = kp.pubkey;
  const textError = (d) => `Failed to convert JavaScript value \`${d}\` into rust type \`String\``;
  const cases = [
    [5, 'StringExpected', textError('Number 5 ')],
    [true, 'StringExpected', textError('Boolean true ')],
    [null, 'StringExpected', textError('Null')],
    [undefined, 'StringExpected', textError('Undefined')],
    [Symbol('s'), 'StringExpected', textError('Unknown')],
    [10n, 'StringExpected', textError('BigInt 10 ')],
    [{ a: 1 }, 'StringExpected', textError('Object {"a":1}')],
    [[1, 2], 'StringExpected', textError('Object [1,2]')],
    [function named() {}, 'StringExpected', textError('function named(..) ')],
    [() => {}, 'StringExpected', textError('function anonymous(..) ')],
  ];
  for (const [value, code, message] of cases) {
    throwsWith(() => { kp.pubkey = value; }, code, message);
    assert.equal(kp.pubkey, original);
  }
  kp.pubkey = '';
  assert.equal(kp.pubkey, '');
  kp.privkey = 'x';
  assert.equal(kp.privkey, 'x');
});

test('describing values that resist description', () => {
  const kp = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);
  // A cycle: JSON.stringify's own TypeError is what JS catches.
  const cyclic = {};
  cyclic.self = cyclic;
  assert.throws(() => { kp.pubkey = cyclic; }, (e) => e instanceof TypeError && /circular/i.test(e.message));
  // toJSON throwing a primitive: a GenericFailure carrying its text.
  throwsWith(() => { kp.pubkey = { toJSON() { throw 5; } }; }, 'GenericFailure', '5');
  // A thrown value whose own conversion to text throws: that exception is
  // what JS catches, from a setter and from an exported function alike.
  const inner = new Error('inner');
  const resisting = { toJSON() { throw { toString() { throw inner; } }; } };
  assert.throws(() => { kp.pubkey = resisting; }, (e) => e === inner);
  assert.throws(() => m.asymSign(m.SignAlgorithm.SM3, [1], resisting, ''), (e) => e === inner);
  assert.throws(() => { kp.pubkey = { toJSON() { throw Symbol('x'); } }; },
    (e) => e instanceof TypeError && e.code === undefined && /Symbol/.test(e.message));
  // Self-referential names and a stringify that hands back its argument end
  // in a bounded description instead of a stack overflow.
  const f = function () {};
  Object.defineProperty(f, 'name', { value: f });
  assert.throws(() => { kp.pubkey = f; }, (e) => e.code === 'StringExpected');
  const saved = JSON.stringify;
  JSON.stringify = (v) => v;
  try {
    assert.throws(() => { kp.pubkey = { a: 1 }; }, (e) => e.code === 'StringExpected');
  } finally {
    JSON.stringify = saved;
  }
  assert.equal(typeof kp.pubkey, 'string');
});

test('arguments beyond those a function takes are not read', () => {
  const poisoned = { get x() { throw new Error('read'); } };
  assert.equal(m.randomGenerate(16, poisoned).length, 24);
});

test('randomGenerate lengths and errors', () => {
  for (const [n, len, tail] of [[1, 4, '=='], [2, 4, '='], [3, 4, ''], [16, 24, '=='], [32, 44, '=']]) {
    const s = m.randomGenerate(n);
    assert.equal(s.length, len);
    assert.equal(Buffer.from(s, 'base64').length, n);
    assert.ok(s.endsWith(tail) && !s.slice(0, len - tail.length).includes('='));
  }
  assert.notEqual(m.randomGenerate(16), m.randomGenerate(16));
  for (const n of [0, -1]) throwsWith(() => m.randomGenerate(n), 'InvalidArg', 'length must be greater than 0');
  const i32 = (type) => `Failed to convert napi value ${type} into rust type \`i32\``;
  throwsWith(() => m.randomGenerate('8'), 'NumberExpected', i32('String'));
  throwsWith(() => m.randomGenerate(), 'NumberExpected', i32('Undefined'));
});

test('enum objects are plain, ordered and per environment', () => {
  assert.deepEqual(m.AsymAlgorithm, { RSA: 0, SM2: 1 });
  assert.deepEqual(m.SignAlgorithm, { SHA1WithRSA: 0, SHA256WithRSA: 1, SM3: 2, SM3WithSM2: 3 });
  assert.equal(m.AsymAlgorithm[1], undefined);
  assert.equal(Object.isFrozen(m.SignAlgorithm), false);
});
