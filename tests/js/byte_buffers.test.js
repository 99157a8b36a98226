'use strict';
// User code that reaches the module's conversion buffers. An in-process
// inspector session finds every Uint8Array of the heap (Runtime.queryObjects),
// the module's own among them; user code then detaches them
// (structuredClone with transfer) or overwrites them, between calls and from
// a getter or setter in the middle of a conversion, and lets the garbage
// collector free what it took. Every conversion must still give exactly what
// the element-by-element path gives, or throw an Error, and never touch
// memory that is no longer the module's (the sanitized build aborts if it
// does).
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
  const taken = [];
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
        const moved = structuredClone(v.buffer, { transfer: [v.buffer] });
        new Uint8Array(moved).fill(0xaa);
        taken.push(moved);
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
        if (round === 1) { taken.length = 0; gc(); gc(); }
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
      taken.length = 0;
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
      taken.length = 0;
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

test('buffers overwritten from a getter while byte data is read', () => {
  // [length, index of the getter]: bytes of the window already written are
  // overwritten, in the first window or the second.
  const cases = [[2, 1], [1000, 500], [1000, 999], [70000, 65535], [70000, 65600]];
  // The bytes the module would take had the overwrite gone unseen.
  const overwritten = (bytes, at) => bytes.map((b, i) => (i >= at - (at % 65536) && i < at ? 0xaa : b));
  const tampered = overwritten(DATA, 999);
  for (const [n, at] of cases) {
    const r = inChild(`
      const data = filler(${n});
      Object.defineProperty(data, ${at}, { get() { attack('overwrite'); return 5; } });
      const first = outcome(() => enc(data));
      const after = enc(filler(${n}));
      const verifyWith = (sig) => outcome(() => {
        const d = filler(1000);
        Object.defineProperty(d, 999, { get() { attack('overwrite'); return ${DATA[999]}; } });
        return verify(d, sig);
      });
      const genuine = verifyWith(${JSON.stringify(signed(DATA))});
      const forged = verifyWith(${JSON.stringify(signed(tampered))});
      console.log(JSON.stringify({ first, after, genuine, forged, attacked }));`);
    const bytes = filler(n);
    bytes[at] = 5;
    assert.ok(r.attacked > 0);
    const what = `${at} of ${n}`;
    if (r.first.error !== undefined) {
      assert.equal(r.first.error, 'Byte data was altered while it was read', what);
    } else {
      assert.deepEqual(r.first.value, sm4ofb(bytes), what);
    }
    assert.deepEqual(r.after, sm4ofb(filler(n)), what);
    assert.ok(r.genuine.error !== undefined || r.genuine.value === true, JSON.stringify(r.genuine));
    assert.ok(r.forged.error !== undefined || r.forged.value === false, JSON.stringify(r.forged));
  }
});

test('buffers overwritten from a setter while a result is written', () => {
  // [length, index of the setter]: the bytes not yet stored are overwritten.
  for (const [n, at] of [[2, 0], [1000, 500], [70000, 100], [70000, 65534], [70000, 65600]]) {
    const r = inChild(`
      let seen;
      Object.defineProperty(Array.prototype, ${at}, { configurable: true, set(v) {
        if (seen === undefined && Array.isArray(this) && this.length === ${n}) { seen = v; attack('overwrite'); }
      } });
      const first = outcome(() => enc(filler(${n})));
      delete Array.prototype[${at}];
      const after = enc(filler(${n}));
      console.log(JSON.stringify({ first, seen, after, attacked, hole: first.value && !(${at} in first.value) }));`);
    const expected = sm4ofb(filler(n));
    const what = `${at} of ${n}`;
    assert.ok(r.attacked > 0);
    assert.equal(r.seen, expected[at], what);
    if (r.first.error !== undefined) {
      assert.equal(r.first.error, 'Byte data was altered while it was written', what);
    } else {
      // The element path: the setter took index `at`, every other element
      // is node:crypto's.
      assert.equal(r.hole, true, what);
      assert.equal(r.first.value.length, n, what);
      r.first.value.forEach((b, i) => i === at || assert.equal(b, expected[i], `${what}: element ${i}`));
    }
    assert.deepEqual(r.after, expected, what);
  }
});

test('buffers overwritten from a getter and a setter of one long conversion: no memory error', () => {
  const r = inChild(`
    const data = filler(70000);
    Object.defineProperty(data, 65600, { get() { attack('overwrite'); return 5; } });
    const read = outcome(() => enc(data));
    let armed = true;
    Object.defineProperty(Array.prototype, 65600, { configurable: true, set() {
      if (armed && this.length === 70000) { armed = false; attack('overwrite'); }
    } });
    const written = outcome(() => enc(filler(70000)));
    delete Array.prototype[65600];
    gc();
    const after = enc(filler(70000));
    console.log(JSON.stringify({ read: read.error || read.value.length, written: written.error || written.value.length, after, attacked }));`);
  assert.ok(r.attacked > 0);
  assert.ok(r.read === 70000 || r.read === 'Byte data was altered while it was read', String(r.read));
  assert.ok(r.written === 70000 || r.written === 'Byte data was altered while it was written', String(r.written));
  assert.deepEqual(r.after, sm4ofb(filler(70000)));
});
