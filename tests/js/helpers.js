'use strict';
// Shared by the JS suites: the built module, and a check for thrown errors.
const assert = require('node:assert/strict');
const path = require('node:path');

const modulePath = process.env.TARNWICK_MODULE || path.join(__dirname, '..', '..', 'build', 'tarnwick.node');
const m = require(modulePath);

// throwsWith asserts that fn throws an Error with exactly this code and message
// (code undefined for errors that carry none).
function throwsWith(fn, code, message) {
  let caught;
  try {
    fn();
  } catch (e) {
    caught = e;
  }
  assert.ok(caught instanceof Error, `expected an Error to be thrown, got ${caught}`);
  assert.equal(caught.message, message);
  assert.equal(caught.code, code);
  return caught;
}

module.exports = { m, modulePath, throwsWith };
