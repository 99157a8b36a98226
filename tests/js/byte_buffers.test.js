'use strict';
// User code that reaches the module's conversion buffers. An in-process
// inspector session finds every Uint8Array of the heap (Runtime.queryObjects),
// the module's own among them; user code then detaches them (the engine's
// %ArrayBufferDetach, which natives syntax switched on at run time offers:
// Node will not transfer a buffer over memory it did not allocate, so
// structuredClone would only copy the module's) or overwrites them, between
// calls and from
// a getter or setter in the middle of a conversion, and lets the garbage
// collector free what it took. The module must never touch memory that is no
// longer its own (the sanitized build aborts if it does) and must leave
// nothing of a call's bytes in its buffers. Code that rewrites the module's
// buffers gets no promise about results; a detach alone still gives exactly
// what the element-by-element path gives, or throws an Error.
//
// Expected bytes come from node:crypto's SM4-OFB, expected signatures from
// node:crypto's RSA PKCS#1 v1.5 with SHA-256.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const { execFileSync } = require('node:child_process');
const { modulePath } = require('./helpers');

const KEY = Buffer.alloc(16, 0x11);
const IV = Buffer.alloc(16, 0x22);
const filler = (n) => Array.from({ length: n }, (_, i) => (i * 7 + 1) & 0xff);

function sm4ofb(bytes) {
  const c = crypto.createCipheriv('sm4-ofb', KEY, IV);
  return [...Buffer.concat([c.update(Buffer.from(bytes)), c.final()])];
}

const rsa = crypto.generateKeyPairSync('rsa', { modulusLength: 2048 });
const spki = rsa.publicKey.export({ type: 'spki', format: 'der' }).toString('base64');
const signed = (bytes) => crypto.sign('sha256', Buffer.from(bytes), rsa.privateKey).toString('base64');
const DATA = filler(1000);
const FORGED = Array(1000).fill(0xaa);

// The child: the module loaded fresh, an inspector session, and `attack`,
// which finds every Uint8Array over a 64 KiB buffer that the child did not
// make and detaches or overwrites it.
const prelude = `
  require('node:v8').setFlagsFromString('--allow-natives-syntax');
  const detachBuffer = new Function('b', '%ArrayBufferDetach(b)');
  const m = require(process.env.TARNWICK_MODULE);
  const inspector = require('node:inspector');
  const session = new inspector.Session();
  session.connect();
  const post = (method, params) => {
    let out, failure;
    session.post(method, params, (e, r) => { failure = e; out = r; });
    if (failure) throw failure;
    return out;
  };
  const key = ${JSON.stringify(KEY.toString('base64'))};
  const iv = ${JSON.stringify(IV.toString('base64'))};
  const enc = (d) => m.symEncrypt(m.SymAlgorithm.SM4OFB, d, key, iv);
  const verify = (d, sig) => m.asymVerify(m.SignAlgorithm.SHA256WithRSA, d, sig, ${JSON.stringify(spki)}, '');
  const filler = (n) => Array.from({ length: n }, (_, i) => (i * 7 + 1) & 0xff);
  let attacked = 0;
  function views() {
    const proto = post('Runtime.evaluate', { expression: 'Uint8Array.prototype' }).result.objectId;
    const found = post('Runtime.queryObjects', { prototypeObjectId: proto }).objects.objectId;
    post('Runtime.callFunctionOn', { objectId: found, functionDeclaration: 'function () { globalThis.__found = this; }' });
    const all = globalThis.__found;
    delete globalThis.__found;
    post('Runtime.releaseObjectGroup', { objectGroup: '' });
    return all.filter((v) => ArrayBuffer.isView(v) && v.buffer.byteLength === 65536 && v.byteOffset === 0 && v.length === 65536);
  }
  function attack(how) {
    for (const v of views()) {
      attacked++;
      if (how === 'detach') {
        detachBuffer(v.buffer);
      } else {
        v.fill(0xaa);
      }
    }
  }
  const outcome = (fn) => { try { return { value: fn() }; } catch (e) { return { error: String(e && e.message) }; } };
`;

function inChild(body) {
  const out = execFileSync(process.execPath, ['--expose-gc', '-e', `'use strict';${prelude}${body}`], {
    env: { ...process.env, TARNWICK_MODULE: modulePath },
    encoding: 'utf8',
    timeout: 120000,
    maxBuffer: 64 * 2 ** 20,
  });
  return JSON.parse(out);
}

const SIZES = [2, 1000, 70000];

test('buffers detached or overwritten between calls, then collected', () => {
  for (const how of ['detach', 'overwrite']) {
    const r = inChild(`
      const rounds = [];
      enc(filler(1000));
      for (let round = 0; round < 3; round++) {
        attack(${JSON.stringify(how)});
        const results = [];
        for (const n of ${JSON.stringify(SIZES)}) { results.push(enc(filler(n))); attack(${JSON.stringify(how)}); }
        const genuine = verify(filler(1000), ${JSON.stringify(signed(DATA))});
        attack(${JSON.stringify(how)});
        const forged = verify(filler(1000), ${JSON.stringify(signed(FORGED))});
        if (round === 1) { gc(); gc(); }
        rounds.push({ results, genuine, forged });
      }
      console.log(JSON.stringify({ rounds, attacked }));`);
    assert.ok(r.attacked > 0, `${how}: the inspector found no buffer of the module`);
    for (const round of r.rounds) {
      round.results.forEach((got, i) => assert.deepEqual(got, sm4ofb(filler(SIZES[i])), `${how} ${SIZES[i]}`));
      assert.equal(round.genuine, true, how);
      assert.equal(round.forged, false, how);
    }
  }
});

test('buffers detached from a getter while byte data is read', () => {
  // [length, index of the getter]: the first window, its last element, the
  // second window.
  for (const [n, at] of [[2, 0], [2, 1], [1000, 0], [1000, 500], [70000, 65535], [70000, 65600]]) {
    const r = inChild(`
      const data = filler(${n});
      Object.defineProperty(data, ${at}, { get() { attack('detach'); return 5; } });
      const first = outcome(() => enc(data));
      gc();
      const after = enc(filler(${n}));
      const sig = outcome(() => {
        const d = filler(1000);
        Object.defineProperty(d, 999, { get() { attack('detach'); return d999; } });
        return verify(d, ${JSON.stringify(signed(FORGED))});
      });
      console.log(JSON.stringify({ first, after, sig, attacked }));`.replace('d999', String(DATA[999])));
    const bytes = filler(n);
    bytes[at] = 5;
    assert.ok(r.attacked > 0);
    // The elements read before the detach went with the buffer: the call
    // throws, since a getter must not run twice. Had nothing been read
    // before it, the same bytes as the element path.
    if (r.first.error !== undefined) {
      assert.equal(r.first.error, 'Byte data was lost while it was read', `${at} of ${n}`);
    } else {
      assert.deepEqual(r.first.value, sm4ofb(bytes), `${at} of ${n}`);
    }
    assert.deepEqual(r.after, sm4ofb(filler(n)));
    assert.ok(r.sig.error !== undefined || r.sig.value === false, JSON.stringify(r.sig));
  }
});

test('buffers detached from a setter while a result is written', () => {
  for (const [n, at] of [[2, 0], [2, 1], [1000, 500], [70000, 100], [70000, 65600]]) {
    const r = inChild(`
      // Only the first store into a result array of this length: node's
      // own code stores into arrays too while the inspector answers.
      let seen;
      Object.defineProperty(Array.prototype, ${at}, { configurable: true, set(v) {
        if (seen === undefined && Array.isArray(this) && this.length === ${n}) { seen = v; attack('detach'); }
      } });
      const first = outcome(() => enc(filler(${n})));
      delete Array.prototype[${at}];
      gc();
      const after = enc(filler(${n}));
      console.log(JSON.stringify({ first, seen, after, attacked, holes: first.value && !(${at} in first.value) }));`);
    const expected = sm4ofb(filler(n));
    assert.ok(r.attacked > 0);
    assert.equal(r.seen, expected[at]);
    // The setter took index `at`, which stays a hole (null once in JSON).
    assert.equal(r.holes, true);
    const got = r.first.value;
    assert.equal(got.length, n);
    assert.deepEqual(got.filter((_, i) => i !== at), expected.filter((_, i) => i !== at), `${at} of ${n}`);
    assert.deepEqual(r.after, expected);
  }
});

test('buffers overwritten from a getter or a setter mid-call: no memory error, later calls exact', () => {
  // [length, index]: bytes of the window already handled are overwritten, in
  // the first window or the second.
  for (const [n, at] of [[2, 1], [1000, 500], [70000, 65535], [70000, 65600]]) {
    const r = inChild(`
      const data = filler(${n});
      Object.defineProperty(data, ${at}, { get() { attack('overwrite'); return 5; } });
      const read = outcome(() => enc(data));
      let armed = true;
      Object.defineProperty(Array.prototype, ${at}, { configurable: true, set() {
        if (armed && Array.isArray(this) && this.length === ${n}) { armed = false; attack('overwrite'); }
      } });
      const written = outcome(() => enc(filler(${n})));
      delete Array.prototype[${at}];
      gc();
      const after = enc(filler(${n}));
      const shape = (o) => o.error !== undefined || (Array.isArray(o.value) && o.value.length === ${n});
      console.log(JSON.stringify({ read: shape(read), written: shape(written), after, attacked }));`);
    assert.ok(r.attacked > 0);
    assert.equal(r.read, true, `${at} of ${n}`);
    assert.equal(r.written, true, `${at} of ${n}`);
    assert.deepEqual(r.after, sm4ofb(filler(n)), `${at} of ${n}`);
  }
});

test('an error a setter throws is not read, and no memory the module let go of is written', () => {
  // The error's message, if read, detaches the module's buffers and has the
  // engine free their memory and hand it out again as buffers of this
  // script's: a module that went on using its old pointer would write into
  // them.
  const r = inChild(`
    const v8 = require('node:v8');
    const kept = [];
    const mine = new WeakSet();
    let reads = 0, thrown = 0;
    const data = filler(1000);
    for (let round = 0; round < 5; round++) {
      const error = new TypeError('thrown by a setter');
      Object.defineProperty(error, 'message', { get() {
        reads++;
        delete Array.prototype[10];
        for (const v of views()) if (!mine.has(v)) detachBuffer(v.buffer);
        gc();
        gc();
        for (let j = 0; j < 64; j++) { const b = new Uint8Array(65536).fill(0xaa); mine.add(b); kept.push(b); }
        return 'not read';
      } });
      Object.defineProperty(Array.prototype, 10, { configurable: true, set() { throw error; } });
      try { enc(data); } catch (e) { if (e === error) thrown++; }
      delete Array.prototype[10];
    }
    const written = kept.filter((b) => b.some((x) => x !== 0xaa)).length;
    console.log(JSON.stringify({ reads, thrown, written }));`);
  assert.deepEqual(r, { reads: 0, thrown: 5, written: 0 });
});

test('nothing of a call is left in the buffers when it returns or throws', () => {
  const r = inChild(`
    const dirty = () => views().filter((v) => v.some((x) => x !== 0)).length;
    const seen = {};
    const data = filler(70000);
    enc(data);
    seen.encrypted = dirty();
    const bad = filler(1000);
    Object.defineProperty(bad, 700, { get() { throw new Error('boom'); } });
    outcome(() => enc(bad));
    seen.readThrew = dirty();
    Object.defineProperty(Array.prototype, 600, { configurable: true, set() { throw new Error('set'); } });
    outcome(() => enc(filler(1000)));
    delete Array.prototype[600];
    seen.writeThrew = dirty();
    const stopped = filler(1000);
    stopped[999] = 'x';
    outcome(() => enc(stopped));
    seen.stopped = dirty();
    // The buffers exist (the inspector finds them), they are only clean.
    seen.found = views().length;
    console.log(JSON.stringify(seen));`);
  assert.ok(r.found > 0, JSON.stringify(r));
  assert.deepEqual(r, { encrypted: 0, readThrew: 0, writeThrew: 0, stopped: 0, found: r.found });
});
