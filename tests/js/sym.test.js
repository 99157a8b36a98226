'use strict';
// What JavaScript sees of the symmetric functions, against node:crypto as
// the independent peer; for SM4-GCM, which node:crypto lacks, against the
// vectors in tests/vectors/sm4_gcm.txt (python `cryptography`, see
// scripts/gen_sm4_gcm_vectors.py).
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { m } = require('./helpers');

const S = m.SymAlgorithm;

// The associated data symEncrypt and symDecrypt always use for SM4GCM.
const GCM_AAD = Buffer.from('5e03b7c9d1f2a84460ce9b13d7a25f0e8c6b4a19', 'hex');

// loadVectors reads tests/vectors/<name>: blocks of "Name = hex" lines
// separated by blank lines, "#" starting a comment line.
function loadVectors(name) {
  const text = fs.readFileSync(path.join(__dirname, '..', 'vectors', name), 'utf8');
  return text.split(/\n\s*\n/).map((block) => {
    const v = {};
    for (const line of block.split('\n')) {
      const field = /^(\w+) =\s?([0-9a-f]*)$/.exec(line);
      if (field) v[field[1]] = Buffer.from(field[2], 'hex');
    }
    return v;
  }).filter((v) => Object.keys(v).length > 0);
}

// The SM4-GCM vectors reachable from JavaScript: those under the fixed AAD.
const GCM_VECTORS = loadVectors('sm4_gcm.txt').filter((v) => v.AAD.equals(GCM_AAD));

function pad(buf) {
  const p = 16 - (buf.length % 16);
  return Buffer.concat([buf, Buffer.alloc(p, p)]);
}

function nodeCrypt(name, key, iv, data, autoPadding, encrypt = true) {
  const c = encrypt ? crypto.createCipheriv(name, key, iv) : crypto.createDecipheriv(name, key, iv);
  c.setAutoPadding(autoPadding);
  return Buffer.concat([c.update(data), c.final()]);
}

// name, key bytes, node cipher, uses IV, node's own padding, PKCS#7 layers added first
const PEERS = [
  ['AES128ECB', 16, 'aes-128-ecb', false, true, 0],
  ['AES128CBC', 16, 'aes-128-cbc', true, true, 0],
  ['AES128OFB', 16, 'aes-128-ofb', true, false, 0],
  ['AES128CFB', 16, 'aes-128-cfb', true, false, 1],
  ['AES256ECB', 32, 'aes-256-ecb', false, true, 0],
  ['AES256CBC', 32, 'aes-256-cbc', true, true, 0],
  ['AES256OFB', 32, 'aes-256-ofb', true, false, 0],
  ['AES256CFB', 32, 'aes-256-cfb', true, false, 1],
  ['SM4ECB', 16, 'sm4-ecb', false, true, 0],
  ['SM4CBC', 16, 'sm4-cbc', true, true, 1],
  ['SM4OFB', 16, 'sm4-ofb', true, false, 0],
  ['SM4CFB', 16, 'sm4-cfb', true, false, 1],
];

test('every algorithm agrees with its peer, both directions', () => {
  for (const [name, keyLen, nodeName, usesIv, autoPadding, layers] of PEERS) {
    for (const n of [1, 15, 16, 17, 33, 100]) {
      const key = crypto.randomBytes(keyLen);
      const iv = crypto.randomBytes(16);
      const data = crypto.randomBytes(n);
      let peerIn = data;
      for (let i = 0; i < layers; i++) peerIn = pad(peerIn);
      const expected = nodeCrypt(nodeName, key, usesIv ? iv : null, peerIn, autoPadding);
      const ivText = usesIv ? iv.toString('base64') : '';
      const ct = m.symEncrypt(S[name], [...data], key.toString('base64'), ivText);
      assert.deepEqual(Buffer.from(ct), expected, `${name} encrypt ${n}`);
      const pt = m.symDecrypt(S[name], [...expected], key.toString('base64'), ivText);
      assert.deepEqual(Buffer.from(pt), data, `${name} decrypt ${n}`);
    }
  }
  const sealed = GCM_VECTORS.filter((v) => v.PT.length > 0);
  assert.ok(sealed.length > 0, 'sm4_gcm.txt has vectors with data under the fixed AAD');
  for (const v of sealed) {
    const n = v.PT.length;
    const expected = Buffer.concat([v.CT, v.Tag]);
    const ct = m.symEncrypt(S.SM4GCM, [...v.PT], v.Key.toString('base64'), v.IV.toString('base64'));
    assert.deepEqual(Buffer.from(ct), expected, `SM4GCM encrypt ${n}`);
    const pt = m.symDecrypt(S.SM4GCM, [...expected], v.Key.toString('base64'), v.IV.toString('base64'));
    assert.deepEqual(Buffer.from(pt), v.PT, `SM4GCM decrypt ${n}`);
  }
});

test('SM4GCM: a tag over empty data decrypts to an empty array; a changed tag byte fails', () => {
  const v = GCM_VECTORS.find((x) => x.PT.length === 0);
  assert.ok(v, 'sm4_gcm.txt has a tag-only vector under the fixed AAD');
  const key = v.Key.toString('base64');
  const iv = v.IV.toString('base64');
  const tagOnly = Buffer.from(v.Tag);
  assert.deepEqual(m.symDecrypt(S.SM4GCM, [...tagOnly], key, iv), []);
  tagOnly[3] ^= 1;
  assert.throws(() => m.symDecrypt(S.SM4GCM, [...tagOnly], key, iv), { code: 'InvalidArg', message: 'invalid hmac tag' });
});

test('symGenerateKey lengths', () => {
  for (const [name] of PEERS.concat([['SM4GCM']])) {
    const key = m.symGenerateKey(S[name]);
    const want = name.startsWith('AES256') ? 32 : 16;
    assert.equal(Buffer.from(key, 'base64').length, want, name);
    assert.equal(key.length, want === 32 ? 44 : 24);
  }
});

test('checks in order, with their texts', () => {
  const k16 = crypto.randomBytes(16).toString('base64');
  const k32 = crypto.randomBytes(32).toString('base64');
  const iv = crypto.randomBytes(16).toString('base64');
  const cases = [
    ['key empty first', 'symEncrypt', S.SM4CBC, [], '', '', 'key is empty'],
    ['plaintext empty', 'symEncrypt', S.SM4CBC, [], k16, '%%', 'plaintext is empty'],
    ['ciphertext empty', 'symDecrypt', S.AES128CBC, [], k16, '%%', 'ciphertext is empty'],
    ['key Base64', 'symEncrypt', S.AES128ECB, [1], 'AAA*', '%%', 'Invalid symbol 42, offset 3.'],
    ['key length', 'symEncrypt', S.AES256ECB, [1], k16, '%%', 'key len 16, must be 32'],
    ['key length SM4', 'symDecrypt', S.SM4CBC, [1], k32, '%%', 'key len 32, must be 16'],
    ['iv Base64, ECB too', 'symEncrypt', S.SM4ECB, [1], k16, '%%', 'Invalid symbol 37, offset 0.'],
    ['iv length', 'symEncrypt', S.AES128CBC, [1], k16, crypto.randomBytes(15).toString('base64'), 'iv len must be 16'],
    ['iv length GCM', 'symDecrypt', S.SM4GCM, [1], k16, crypto.randomBytes(17).toString('base64'), 'iv len must be 16'],
    ['AES unpad', 'symDecrypt', S.AES128CBC, new Array(17).fill(1), k16, iv, 'Unpad Error'],
    ['SM4CBC length', 'symDecrypt', S.SM4CBC, new Array(17).fill(1), k16, iv, 'the data len of SM4 must be 16'],
    ['SM4ECB short', 'symDecrypt', S.SM4ECB, new Array(15).fill(1), k16, '', 'data is empty'],
    ['SM4GCM short', 'symDecrypt', S.SM4GCM, new Array(15).fill(1), k16, iv, 'the data len of SM4 must be 16'],
  ];
  for (const [name, fn, alg, data, key, ivText, message] of cases) {
    assert.throws(() => m[fn](alg, data, key, ivText), { code: 'InvalidArg', message }, name);
  }
});
