'use strict';
// asymEncrypt / asymDecrypt as JavaScript sees them: round trips with the
// `openssl` command both ways, and the thrown errors in check order.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { m, throwsWith } = require('./helpers');

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarnwick-asym-enc-'));
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));

const file = (name) => path.join(dir, name);
const openssl = (...args) => execFileSync('openssl', args, { stdio: ['ignore', 'pipe', 'pipe'] });
const b64 = (name) => fs.readFileSync(file(name)).toString('base64');

openssl('genpkey', '-algorithm', 'SM2', '-outform', 'DER', '-out', file('sm2.der'));
openssl('pkey', '-inform', 'DER', '-in', file('sm2.der'), '-pubout', '-outform', 'DER', '-out', file('sm2_pub.der'));
openssl('ec', '-inform', 'DER', '-in', file('sm2.der'), '-outform', 'DER', '-out', file('sm2_sec1.der'));
openssl('genpkey', '-algorithm', 'SM2', '-outform', 'DER', '-out', file('sm2b.der'));
openssl('pkey', '-inform', 'DER', '-in', file('sm2b.der'), '-pubout', '-outform', 'DER', '-out', file('sm2b_pub.der'));
openssl('genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:2048', '-outform', 'DER', '-out', file('rsa.der'));
openssl('pkey', '-inform', 'DER', '-in', file('rsa.der'), '-pubout', '-outform', 'DER', '-out', file('rsa_pub.der'));

const OAEP = ['-pkeyopt', 'rsa_padding_mode:oaep', '-pkeyopt', 'rsa_oaep_md:sha256', '-pkeyopt', 'rsa_mgf1_md:sha256'];
const { RSA, SM2 } = m.AsymAlgorithm;

// message gives n bytes whose first three are zero.
function message(n) {
  return Array.from({ length: n }, (_, i) => (i < 3 ? 0 : (i * 37 + 11) & 0xff));
}

function opensslOn(bytes, ...args) {
  fs.writeFileSync(file('in.bin'), Buffer.from(bytes));
  openssl(...args, '-in', file('in.bin'), '-out', file('out.bin'));
  return [...fs.readFileSync(file('out.bin'))];
}

test('SM2 round trips with openssl both ways, PKCS#8 and SEC1 keys', () => {
  for (const n of [1, 31, 32, 33, 200, 5000]) {
    const data = message(n);
    const ct = Buffer.from(m.asymEncrypt(SM2, data, b64('sm2_pub.der')), 'base64');
    assert.deepEqual(opensslOn(ct, 'pkeyutl', '-decrypt', '-keyform', 'DER', '-inkey', file('sm2.der')), data, `length ${n}`);

    const theirs = Buffer.from(opensslOn(data, 'pkeyutl', '-encrypt', '-pubin', '-keyform', 'DER', '-inkey', file('sm2_pub.der')));
    for (const key of ['sm2.der', 'sm2_sec1.der']) {
      assert.deepEqual(m.asymDecrypt(SM2, theirs.toString('base64'), b64(key)), data, `length ${n}, ${key}`);
    }
  }
});

test('RSA-OAEP-SHA256 round trips with openssl both ways', () => {
  for (const n of [1, 32, 190]) {
    const data = message(n);
    const ct = m.asymEncrypt(RSA, data, b64('rsa_pub.der'));
    assert.equal(ct.length, 344);
    assert.deepEqual(opensslOn(Buffer.from(ct, 'base64'), 'pkeyutl', '-decrypt', '-keyform', 'DER', '-inkey', file('rsa.der'), ...OAEP), data);
    const theirs = Buffer.from(opensslOn(data, 'pkeyutl', '-encrypt', '-pubin', '-keyform', 'DER', '-inkey', file('rsa_pub.der'), ...OAEP));
    assert.deepEqual(m.asymDecrypt(RSA, theirs.toString('base64'), b64('rsa.der')), data);
  }
});

test('failures throw InvalidArg with their texts, in check order', async (t) => {
  const data = [1, 2, 3];
  const sm2Ct = m.asymEncrypt(SM2, data, b64('sm2_pub.der'));
  const otherCt = m.asymEncrypt(SM2, data, b64('sm2b_pub.der'));
  const rsaCt = Buffer.from(m.asymEncrypt(RSA, data, b64('rsa_pub.der')), 'base64');
  // SEQUENCE { INTEGER 1, INTEGER 1, OCTET STRING (31 bytes), OCTET STRING () }
  const shortRecord = Buffer.concat([Buffer.from([0x30, 0x29, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x04, 0x1f]),
    Buffer.alloc(31), Buffer.from([0x04, 0x00])]).toString('base64');
  const cases = [
    ['encrypt: empty data before the key', () => m.asymEncrypt(SM2, [], '***'), 'plaintext is empty'],
    ['encrypt: key not Base64', () => m.asymEncrypt(RSA, data, 'ab*d'), 'Invalid symbol 42, offset 2.'],
    ['encrypt: RSA data too long', () => m.asymEncrypt(RSA, new Array(191).fill(7), b64('rsa_pub.der')), 'message too long'],
    ['encrypt: SM2 given an RSA key', () => m.asymEncrypt(SM2, data, b64('rsa_pub.der')),
      'unknown/unsupported algorithm OID: 1.2.840.10045.2.1'],
    ['encrypt: algorithm 2', () => m.asymEncrypt(2, data, b64('sm2_pub.der')),
      'value `2` does not match any variant of enum `AsymAlgorithm`'],
    ['decrypt: empty ciphertext before the key', () => m.asymDecrypt(SM2, '', ''), 'ciphertext is empty'],
    ['decrypt: ciphertext not Base64', () => m.asymDecrypt(SM2, 'A*==', ''), 'Invalid symbol 42, offset 1.'],
    ['decrypt: empty key', () => m.asymDecrypt(SM2, sm2Ct, ''), 'privkey is empty'],
    ['decrypt: key not Base64', () => m.asymDecrypt(RSA, sm2Ct, 'ab*d'), 'Invalid symbol 42, offset 2.'],
    ['decrypt: RSA one byte short', () => m.asymDecrypt(RSA, rsaCt.subarray(1).toString('base64'), b64('rsa.der')),
      'decryption error'],
    ['decrypt: SM2 record too short', () => m.asymDecrypt(SM2, shortRecord, b64('sm2.der')),
      'Failed to decrypt ciphertext: ciphertext length is less than cipher size'],
    ['decrypt: SM2 other key', () => m.asymDecrypt(SM2, otherCt, b64('sm2.der')),
      'Failed to decrypt ciphertext: hash and cipher not equal'],
  ];
  for (const [name, fn, message] of cases) {
    await t.test(name, () => throwsWith(fn, 'InvalidArg', message));
  }
});

test('an SM2 ciphertext that is not DER names the decoder', () => {
  let caught;
  try {
    m.asymDecrypt(SM2, Buffer.from('hello').toString('base64'), b64('sm2.der'));
  } catch (e) {
    caught = e;
  }
  assert.equal(caught.code, 'InvalidArg');
  assert.match(caught.message, /^Failed to decrypt ciphertext: failed to decode cipher:Error Kind: /);
});
