'use strict';
// What JavaScript sees when memory runs short or a result cannot be a
// string: errors thrown, never the end of the process. Each case runs in a
// child process that first caps its own address space a little above what
// it already uses (prlimit on its own pid), so any large allocation fails.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { constants } = require('node:buffer');
const { modulePath } = require('./helpers');

const TEXT_FAILURE = 'Failed to convert rust `String` into napi `string`';

// capped runs `body` in a child node whose address space may grow by
// `headroomMiB` from the moment `cap()` is called; it returns the parsed
// JSON line the child prints, after checking that the child exited normally.
function capped(body, headroomMiB = 128) {
  const script = `
    const fs = require('fs');
    const { execFileSync } = require('child_process');
    const m = require(process.env.TARNWICK_MODULE);
    function cap() {
      const kb = Number(/VmSize:\\s+(\\d+) kB/.exec(fs.readFileSync('/proc/self/status', 'utf8'))[1]);
      execFileSync('prlimit', ['--pid', String(process.pid), '--as=' + (kb * 1024 + ${headroomMiB} * 2 ** 20)]);
    }
    function outcome(fn) {
      try { return ['returned', fn()]; } catch (e) { return [e.code, e.message]; }
    }
    ${body}`;
  const r = spawnSync(process.execPath, ['-e', script], {
    env: { ...process.env, TARNWICK_MODULE: modulePath },
    encoding: 'utf8',
    timeout: 120000,
  });
  assert.equal(r.signal, null, `child ended by ${r.signal}: ${r.stderr}`);
  assert.equal(r.status, 0, `child exited with ${r.status}: ${r.stderr}`);
  return JSON.parse(r.stdout.trim().split('\n').pop());
}

// The sanitizers' operator new reports a failed allocation and ends the
// process instead of throwing std::bad_alloc (scripts/sanitize-js.sh).
const sanitized = process.env.TARNWICK_SANITIZED === '1';

test('a KeyPair setter that cannot copy its text throws GenericFailure and keeps the old text',
  { skip: sanitized && 'no std::bad_alloc under the sanitizers' }, () => {
  const r = capped(`
    const kp = m.asymGenerateKey(m.AsymAlgorithm.SM2, 0);
    const before = kp.privkey;
    // A flat 300-million-character string, made before the cap.
    const big = Buffer.alloc(300e6, 0x41).toString('latin1');
    cap();
    const set = outcome(() => { kp.pubkey = big; });
    const setPrivate = outcome(() => { kp.privkey = big; });
    console.log(JSON.stringify({ set, setPrivate, kept: kp.privkey === before, pubkey: kp.pubkey.length }));`);
  assert.deepEqual(r.set, ['GenericFailure', 'out of memory']);
  assert.deepEqual(r.setPrivate, ['GenericFailure', 'out of memory']);
  assert.equal(r.kept, true);
  assert.equal(r.pubkey, 124);
});

test('randomGenerate refuses a length whose Base64 cannot be a string before drawing any byte', () => {
  // The shortest length whose text is longer than the engine's longest
  // string, and the shortest whose text is longer than Node-API accepts.
  const overEngine = Math.floor(constants.MAX_STRING_LENGTH / 4) * 3 + 1;
  assert.ok(4 * Math.ceil(overEngine / 3) > constants.MAX_STRING_LENGTH);
  assert.ok(4 * Math.ceil((overEngine - 1) / 3) <= constants.MAX_STRING_LENGTH);
  const overNapi = 3 * (2 ** 29 - 1) + 1;
  const r = capped(`
    cap();
    console.log(JSON.stringify([${overEngine}, ${overNapi}, 1610612733, 2 ** 31 - 1, 0]
      .map((n) => outcome(() => m.randomGenerate(n)))
      .concat([outcome(() => m.randomGenerate(16).length)])));`);
  assert.deepEqual(r, [
    ['GenericFailure', TEXT_FAILURE],
    ['InvalidArg', TEXT_FAILURE],
    ['GenericFailure', TEXT_FAILURE],
    ['InvalidArg', TEXT_FAILURE],
    ['InvalidArg', 'length must be greater than 0'],
    ['returned', 24],
  ]);
});

test('randomGenerate still makes the longest text the engine holds', () => {
  const longest = Math.floor(constants.MAX_STRING_LENGTH / 4) * 3;
  const s = require(modulePath).randomGenerate(longest);
  assert.equal(s.length, 4 * Math.ceil(longest / 3));
});
