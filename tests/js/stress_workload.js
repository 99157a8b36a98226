'use strict';
// The stress tests' workload: every export of the module called with keys
// made on the spot, each result checked by a round trip or a verification.
// Loaded by stress.test.js on the main thread and inside worker threads.
const assert = require('node:assert/strict');

const text = [...Buffer.from('stress workload: every export, every thread')];

function workload(m, rounds) {
  const { SymAlgorithm, AsymAlgorithm, SignAlgorithm } = m;
  for (let r = 0; r < rounds; r++) {
    for (const alg of Object.values(SymAlgorithm)) {
      const key = m.symGenerateKey(alg);
      const iv = m.randomGenerate(16);
      const ct = m.symEncrypt(alg, text, key, iv);
      assert.deepEqual(m.symDecrypt(alg, ct, key, iv), text);
    }
    const kp = m.asymGenerateKey(AsymAlgorithm.SM2, 256);
    assert.ok(kp instanceof m.KeyPair);
    assert.match(m.asymGenerateKeyTest(AsymAlgorithm.SM2, 0).pubkey, /^04[0-9a-f]{128}$/);
    assert.deepEqual(m.asymDecrypt(AsymAlgorithm.SM2, m.asymEncrypt(AsymAlgorithm.SM2, text, kp.pubkey), kp.privkey), text);
    for (const alg of [SignAlgorithm.SM3, SignAlgorithm.SM3WithSM2]) {
      const sig = m.asymSign(alg, text, kp.privkey, 'alice');
      assert.equal(m.asymVerify(alg, text, sig, kp.pubkey, 'alice'), true);
      assert.equal(m.asymVerify(alg, [...text, 1], sig, kp.pubkey, 'alice'), false);
    }
    assert.equal(Buffer.from(m.randomGenerate(33), 'base64').length, 33);
  }
  const rsa = m.asymGenerateKey(AsymAlgorithm.RSA, 1024);
  assert.deepEqual(m.asymDecrypt(AsymAlgorithm.RSA, m.asymEncrypt(AsymAlgorithm.RSA, text, rsa.pubkey), rsa.privkey), text);
  for (const alg of [SignAlgorithm.SHA1WithRSA, SignAlgorithm.SHA256WithRSA]) {
    const sig = m.asymSign(alg, text, rsa.privkey, '');
    assert.equal(m.asymVerify(alg, text, sig, rsa.pubkey, ''), true);
    assert.equal(m.asymVerify(alg, text.slice(1), sig, rsa.pubkey, ''), false);
  }
  assert.match(m.asymGenerateKeyTest(AsymAlgorithm.RSA, 1024).pubkey, /^[A-Za-z0-9+/]+=*$/);
}

module.exports = { workload, text };
