'use strict';
// asymSign / asymVerify as JavaScript sees them, with the `openssl` command
// as the peer for SM2 (with and without the user digest Z) and RSA.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { m, throwsWith } = require('./helpers');

const { SHA1WithRSA, SHA256WithRSA, SM3, SM3WithSM2 } = m.SignAlgorithm;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnwick-sign-'));
process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
const file = (name) => path.join(dir, name);
const openssl = (...args) => execFileSync('openssl', args, { stdio: ['ignore', 'pipe', 'pipe'] });
const opensslOk = (...args) => {
  try {
    openssl(...args);
    return true;
  } catch {
    return false;
  }
};
const b64 = (name) => fs.readFileSync(file(name)).toString('base64');

openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', file('sm2.pem'));
openssl('pkcs8', '-topk8', '-nocrypt', '-in', file('sm2.pem'), '-outform', 'DER', '-out', file('sm2.p8'));
openssl('ec', '-in', file('sm2.pem'), '-outform', 'DER', '-out', file('sm2.sec1'));
openssl('pkey', '-in', file('sm2.pem'), '-pubout', '-outform', 'DER', '-out', file('sm2.spki'));
openssl('genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:2048', '-out', file('rsa.pem'));
openssl('pkcs8', '-topk8', '-nocrypt', '-in', file('rsa.pem'), '-outform', 'DER', '-out', file('rsa.p8'));
openssl('pkey', '-in', file('rsa.pem'), '-pubout', '-outform', 'DER', '-out', file('rsa.spki'));
const keys = {
  sm2Pkcs8: b64('sm2.p8'), sm2Sec1: b64('sm2.sec1'), sm2Spki: b64('sm2.spki'),
  rsaPkcs8: b64('rsa.p8'), rsaSpki: b64('rsa.spki'),
};

const text = 'hello, signatures';
const data = [...Buffer.from(text)];
fs.writeFileSync(file('data'), Buffer.from(text));
openssl('dgst', '-sm3', '-binary', '-out', file('e'), file('data'));
const spkiArgs = () => ['-pubin', '-keyform', 'DER', '-inkey', file('sm2.spki'), '-sigfile', file('sig')];
const withZ = (id) => ['pkeyutl', '-verify', '-rawin', '-digest', 'sm3', '-pkeyopt', `distid:${id}`, '-in', file('data')];

test('SM2 signatures are DER records that openssl verifies', () => {
  const cases = [
    { name: 'empty id means the default', alg: SM3WithSM2, key: keys.sm2Pkcs8, id: '', check: withZ('1234567812345678') },
    { name: 'custom id', alg: SM3WithSM2, key: keys.sm2Pkcs8, id: 'bob@example.org', check: withZ('bob@example.org') },
    { name: 'bare SEC1 key', alg: SM3WithSM2, key: keys.sm2Sec1, id: '', check: withZ('1234567812345678') },
    { name: 'SM3 alone ignores the id', alg: SM3, key: keys.sm2Pkcs8, id: 'anything', check: ['pkeyutl', '-verify', '-in', file('e')] },
  ];
  for (const c of cases) {
    const sig = m.asymSign(c.alg, data, c.key, c.id);
    const der = Buffer.from(sig, 'base64');
    assert.equal(der[0], 0x30, c.name);
    assert.ok(der.length >= 8 && der.length <= 72, c.name);
    fs.writeFileSync(file('sig'), der);
    assert.ok(opensslOk(...c.check, ...spkiArgs()), c.name);
    assert.equal(m.asymVerify(c.alg, data, sig, keys.sm2Spki, c.id), true, c.name);
    assert.notEqual(m.asymSign(c.alg, data, c.key, c.id), sig, `${c.name}: fresh nonce`);
  }
});

test('openssl SM2 signatures verify', () => {
  const sign = (...args) => {
    openssl(...args, '-inkey', file('sm2.pem'), '-out', file('sig'));
    return b64('sig');
  };
  const zDefault = sign('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-pkeyopt', 'distid:1234567812345678', '-in', file('data'));
  const zCustom = sign('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-pkeyopt', 'distid:bob@example.org', '-in', file('data'));
  const plain = sign('pkeyutl', '-sign', '-in', file('e'));
  const cases = [
    ['default id, given empty', SM3WithSM2, zDefault, '', true],
    ['default id, spelled out', SM3WithSM2, zDefault, '1234567812345678', true],
    ['default-id signature, other id', SM3WithSM2, zDefault, 'bob@example.org', false],
    ['custom id', SM3WithSM2, zCustom, 'bob@example.org', true],
    ['custom-id signature, empty id', SM3WithSM2, zCustom, '', false],
    ['SM3 over the data alone', SM3, plain, '', true],
    ['SM3 ignores the id', SM3, plain, 'bob@example.org', true],
    ['Z signature checked as SM3', SM3, zDefault, '', false],
  ];
  for (const [name, alg, sig, id, want] of cases) assert.equal(m.asymVerify(alg, data, sig, keys.sm2Spki, id), want, name);
});

test('RSA PKCS#1 v1.5 signatures equal openssl dgst output', () => {
  for (const [alg, md] of [[SHA1WithRSA, 'sha1'], [SHA256WithRSA, 'sha256']]) {
    const ours = m.asymSign(alg, data, keys.rsaPkcs8, '');
    assert.equal(Buffer.from(ours, 'base64').length, 256, md);
    assert.equal(m.asymSign(alg, data, keys.rsaPkcs8, 'ignored'), ours, md);
    openssl('dgst', `-${md}`, '-sign', file('rsa.pem'), '-out', file('theirs'), file('data'));
    assert.equal(ours, b64('theirs'), md);
    fs.writeFileSync(file('sig'), Buffer.from(ours, 'base64'));
    assert.ok(opensslOk('dgst', `-${md}`, '-verify', file('rsa.spki'), '-keyform', 'DER', '-signature', file('sig'), file('data')), md);
    assert.equal(m.asymVerify(alg, data, ours, keys.rsaSpki, ''), true, md);
    const shorter = Buffer.from(ours, 'base64').subarray(1).toString('base64');
    assert.equal(m.asymVerify(alg, data, shorter, keys.rsaSpki, ''), false, md);
  }
});

test('asymSign failures: codes and messages in check order', () => {
  const cases = [
    ['empty data before empty key', SM3, [], '', '', 'origin data is empty'],
    ['empty key', SHA1WithRSA, data, '', '', 'privkey is empty'],
    ['bad Base64 padding', SM3, data, 'AAA', '', 'Invalid padding'],
    ['bad Base64 symbol', SM3, data, 'A*AA', '', 'Invalid symbol 42, offset 1.'],
    ['ID of 8192 bytes', SM3WithSM2, data, keys.sm2Pkcs8, 'x'.repeat(8192), 'sign failed: ID is too long'],
  ];
  for (const [name, alg, d, key, id, message] of cases) {
    try {
      throwsWith(() => m.asymSign(alg, d, key, id), 'InvalidArg', message);
    } catch (e) {
      e.message = `${name}: ${e.message}`;
      throw e;
    }
  }
  // Multi-byte UTF-8: 4096 two-byte characters are 8192 bytes.
  throwsWith(() => m.asymSign(SM3WithSM2, data, keys.sm2Pkcs8, 'é'.repeat(4096)), 'InvalidArg', 'sign failed: ID is too long');
  const longest = 'é'.repeat(4095) + 'x';
  const sig = m.asymSign(SM3WithSM2, data, keys.sm2Pkcs8, longest);
  assert.equal(m.asymVerify(SM3WithSM2, data, sig, keys.sm2Spki, longest), true);
});

test('IDs of every UTF-8 width around 256 bytes reach the signature whole', () => {
  // Texts are read in one go when short: lengths on both sides of that
  // buffer, with characters of 1 to 4 bytes straddling its end.
  for (const ch of ['a', 'é', '€', '😀']) {
    const w = Buffer.byteLength(ch);
    for (let bytes = 244; bytes <= 262; bytes++) {
      const id = 'x'.repeat(bytes % w) + ch.repeat(Math.floor(bytes / w));
      assert.equal(Buffer.byteLength(id), bytes);
      fs.writeFileSync(file('sig'), Buffer.from(m.asymSign(SM3WithSM2, data, keys.sm2Pkcs8, id), 'base64'));
      assert.ok(opensslOk(...withZ(id), ...spkiArgs()), `${bytes} bytes of ${JSON.stringify(ch)}`);
    }
  }
});

test('argument conversion comes first and applies to every algorithm', () => {
  throwsWith(() => m.asymSign(SHA256WithRSA, data, keys.rsaPkcs8), 'StringExpected',
    'Failed to convert JavaScript value `Undefined` into rust type `String`');
  throwsWith(() => m.asymVerify(SM3, data, 'c2ln', keys.sm2Spki), 'StringExpected',
    'Failed to convert JavaScript value `Undefined` into rust type `String`');
  throwsWith(() => m.asymVerify(SM3, [], 5, '', ''), 'StringExpected',
    'Failed to convert JavaScript value `Number 5 ` into rust type `String`');
});

test('asymVerify answers false, never throws, for unusable inputs', () => {
  const sig = m.asymSign(SM3WithSM2, data, keys.sm2Pkcs8, '');
  const rsaSig = m.asymSign(SHA256WithRSA, data, keys.rsaPkcs8, '');
  const der = Buffer.from(sig, 'base64');
  const pointHex = Buffer.from(keys.sm2Spki, 'base64').subarray(26).toString('hex');
  const inside = Buffer.concat([Buffer.from([0x30, der[1] + 1]), der.subarray(2), Buffer.from([0])]);
  const cases = [
    ['empty signature', SM3WithSM2, data, '', keys.sm2Spki],
    ['empty data', SM3WithSM2, [], sig, keys.sm2Spki],
    ['empty pubkey', SM3WithSM2, data, sig, ''],
    ['signature not Base64', SM3WithSM2, data, sig.slice(1), keys.sm2Spki],
    ['pubkey not Base64', SM3WithSM2, data, sig, `${keys.sm2Spki}=`],
    ['RSA key with SM3', SM3, data, sig, keys.rsaSpki],
    ['SM2 key with SHA256WithRSA', SHA256WithRSA, data, rsaSig, keys.sm2Spki],
    ['hex point instead of SPKI', SM3WithSM2, data, sig, pointHex],
    ['private key instead of SPKI', SM3WithSM2, data, sig, keys.sm2Pkcs8],
    ['not a record', SM3WithSM2, data, Buffer.from('garbage').toString('base64'), keys.sm2Spki],
    ['a byte inside the record', SM3WithSM2, data, inside.toString('base64'), keys.sm2Spki],
  ];
  for (const [name, alg, d, s, key] of cases) assert.equal(m.asymVerify(alg, d, s, key, ''), false, name);
  const after = Buffer.concat([der, Buffer.from([0, 1, 2])]).toString('base64');
  assert.equal(m.asymVerify(SM3WithSM2, data, after, keys.sm2Spki, ''), true, 'bytes after the record');
});
