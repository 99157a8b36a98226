'use strict';
// Key-pair generation as JavaScript sees it, checked with the openssl command.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { m, throwsWith } = require('./helpers');

const { RSA, SM2 } = m.AsymAlgorithm;
const SM2_SPKI_PREFIX = '3059301306072a8648ce3d020106082a811ccf5501822d03420004';

// openssl runs the command with `input` on its standard input (private keys
// go this way, never into a file).
function openssl(args, input) {
  return execFileSync('openssl', args, { input, encoding: 'buffer', stdio: ['pipe', 'pipe', 'pipe'] });
}

test('SM2 key pairs: 91-byte SPKI, PKCS#8 that OpenSSL reads to the same public key', () => {
  for (const size of [0, -5, 256]) {
    const kp = m.asymGenerateKey(SM2, size);
    assert.ok(kp instanceof m.KeyPair);
    assert.deepEqual(Object.keys(kp), []);
    assert.equal(kp.pubkey.length, 124);
    const spki = Buffer.from(kp.pubkey, 'base64');
    assert.equal(spki.length, 91);
    assert.ok(spki.toString('hex').startsWith(SM2_SPKI_PREFIX));
    const pkcs8 = Buffer.from(kp.privkey, 'base64');
    const derived = openssl(['pkey', '-inform', 'DER', '-pubout', '-outform', 'DER'], pkcs8);
    assert.deepEqual(derived, spki);
  }
});

test('asymGenerateKeyTest gives the SM2 point as lowercase hex', () => {
  const kp = m.asymGenerateKeyTest(SM2, 256);
  assert.match(kp.pubkey, /^04[0-9a-f]{128}$/);
  const pkcs8 = Buffer.from(kp.privkey, 'base64');
  const spki = openssl(['pkey', '-inform', 'DER', '-pubout', '-outform', 'DER'], pkcs8);
  assert.equal(spki.subarray(26).toString('hex'), kp.pubkey);
});

test('RSA key pairs of the asked size that OpenSSL accepts', () => {
  for (const fn of [m.asymGenerateKey, m.asymGenerateKeyTest]) {
    const kp = fn(RSA, 2048);
    assert.equal(kp.pubkey.length, 392);
    const spki = Buffer.from(kp.pubkey, 'base64');
    assert.equal(spki.length, 294);
    const pkcs8 = Buffer.from(kp.privkey, 'base64');
    const text = openssl(['pkey', '-inform', 'DER', '-check', '-noout', '-text'], pkcs8).toString();
    assert.match(text, /Private-Key: \(2048 bit, 2 primes\)/);
    assert.match(text, /Key is valid/);
    const pub = openssl(['pkey', '-inform', 'DER', '-pubout', '-outform', 'DER'], pkcs8);
    assert.deepEqual(pub, spki);
  }
});

test('two calls give different keys', () => {
  assert.notEqual(m.asymGenerateKey(SM2, 0).privkey, m.asymGenerateKey(SM2, 0).privkey);
});

test('key sizes outside what RSA can make fail at once', () => {
  const cases = [
    [0, 'too few primes of given length to generate an RSA key'],
    [11, 'too few primes of given length to generate an RSA key'],
    [12, 'modulus too small'],
    [511, 'modulus too small'],
    [4097, 'modulus too large'],
    [-1, 'modulus too large'],
    [-2147483648, 'modulus too large'],
    [2147483647, 'modulus too large'],
  ];
  for (const [size, message] of cases) throwsWith(() => m.asymGenerateKey(RSA, size), 'InvalidArg', message);
});

test('arguments are converted before anything is generated, for SM2 too', () => {
  const i32 = (type) => `Failed to convert napi value ${type} into rust type \`i32\``;
  throwsWith(() => m.asymGenerateKey(SM2), 'NumberExpected', i32('Undefined'));
  throwsWith(() => m.asymGenerateKey(SM2, '256'), 'NumberExpected', i32('String'));
  throwsWith(() => m.asymGenerateKeyTest(), 'NumberExpected',
    'Failed to convert napi value into enum `AsymAlgorithm`. NumberExpected, ' + i32('Undefined'));
  throwsWith(() => m.asymGenerateKey('1', 0), 'NumberExpected',
    'Failed to convert napi value into enum `AsymAlgorithm`. NumberExpected, ' + i32('String'));
  throwsWith(() => m.asymGenerateKey(2, 0), 'InvalidArg', 'value `2` does not match any variant of enum `AsymAlgorithm`');
  throwsWith(() => m.asymGenerateKey(-1, 0), 'InvalidArg', 'value `-1` does not match any variant of enum `AsymAlgorithm`');
  // 1.9 reads as 1 under the host's int32 rules.
  assert.equal(m.asymGenerateKey(1.9, 0).pubkey.length, 124);
});
