'use strict';
// Registration and instance creation when a Node-API call fails: a second
// build of the module fails the call named in TARNWICK_FAULT.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const faultsModule = process.env.TARNWICK_FAULTS_MODULE ||
  path.join(__dirname, '..', '..', 'build', 'tarnwick_faults.node');

const probe = `
  const mod = { exports: {} };
  const out = {};
  try { process.dlopen(mod, process.env.FAULTS_MODULE); } catch (e) { out.load = [e.code, e.message]; }
  out.keys = Object.keys(mod.exports);
  const m = mod.exports;
  if (m.asymGenerateKey) {
    try { out.instance = m.asymGenerateKey(1, 0).pubkey.length === 124; } catch (e) { out.instance = [e.code, e.message]; }
  }
  if (m.KeyPair) { try { new m.KeyPair(); } catch (e) { out.newKeyPair = e.message; } }
  console.log(JSON.stringify(out));`;

function run(fault) {
  const out = execFileSync(process.execPath, ['-e', probe], {
    env: { ...process.env, TARNWICK_FAULT: fault, FAULTS_MODULE: faultsModule },
    encoding: 'utf8',
  });
  return JSON.parse(out);
}

const ALL = ['SymAlgorithm', 'symGenerateKey', 'symEncrypt', 'symDecrypt', 'AsymAlgorithm', 'SignAlgorithm',
  'asymGenerateKey', 'asymGenerateKeyTest', 'asymEncrypt', 'asymDecrypt', 'asymSign', 'asymVerify',
  'randomGenerate', 'KeyPair'];
const NO_NEW = 'Class contains no `constructor`, can not new it!';
const KP = 'tarnwick::ohos::asym::KeyPair';

test('the first failure is what JS sees; exports before it stay defined', () => {
  // Node refuses most calls once an exception is pending, so nothing after
  // the failing export reaches the object.
  let r = run('napi_create_function:symEncrypt');
  assert.deepEqual(r.load, ['GenericFailure', 'Failed to register function `sym_encrypt`']);
  assert.deepEqual(r.keys, ['SymAlgorithm', 'symGenerateKey']);

  r = run('napi_set_named_property:asymGenerateKey');
  assert.deepEqual(r.load, ['GenericFailure', 'Failed to register export `asymGenerateKey`']);
  assert.deepEqual(r.keys, ALL.slice(0, 6));

  r = run('napi_set_named_property:AES128CBC');
  assert.deepEqual(r.load, ['GenericFailure', 'Failed to defined enum `SymAlgorithm`']);
  assert.deepEqual(r.keys, []);

  r = run('napi_create_object:');
  assert.deepEqual(r.load, ['GenericFailure', 'Failed to create napi object']);
});

test('a class that could not be defined leaves instance creation failing cleanly', () => {
  for (const fault of ['napi_define_class:KeyPair', 'napi_set_named_property:KeyPair']) {
    const r = run(fault);
    assert.deepEqual(r.load, ['GenericFailure', 'Failed to register class `KeyPair`']);
    assert.deepEqual(r.keys, ALL.filter((k) => k !== 'KeyPair'));
  }
  // Without a class there is no constructor reference to make instances from.
  assert.deepEqual(run('napi_define_class:KeyPair').instance,
    ['InvalidArg', 'Failed to get constructor of class `KeyPair` in `ToNapiValue`']);
  assert.equal(run('napi_set_named_property:KeyPair').instance, true);
});

test('late registration steps fail with their own texts and registration completes', () => {
  const cases = [
    ['napi_create_function:custom_gc', 'Create Custom GC Function in napi_register_module_v1 failed'],
    ['napi_create_threadsafe_function:', 'Create Custom GC ThreadsafeFunction in napi_register_module_v1 failed'],
    ['napi_add_env_cleanup_hook:', 'Failed to add remove thread id cleanup hook'],
  ];
  for (const [fault, message] of cases) {
    const r = run(fault);
    assert.deepEqual(r.load, ['GenericFailure', message], fault);
    assert.deepEqual(r.keys, ALL, fault);
    assert.equal(r.instance, true, fault);
    assert.equal(r.newKeyPair, NO_NEW, fault);
  }
});

test('instance creation failures carry the type name; new KeyPair() still throws', () => {
  const cases = [
    ['napi_new_instance:', `Failed to construct class \`${KP}\``],
    ['napi_wrap:', `Failed to wrap native object of class \`${KP}\``],
  ];
  for (const [fault, message] of cases) {
    const r = run(fault);
    assert.equal(r.load, undefined, fault);
    assert.deepEqual(r.instance, ['GenericFailure', message], fault);
    assert.equal(r.newKeyPair, NO_NEW, fault);
  }
});
