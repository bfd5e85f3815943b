'use strict';
// The demo on the tree built with another identity and a certificate issued
// by a test root: the kept log, the settings key, the executables' names and
// the signature check follow that tree, not the defaults.

const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { test, after } = require('node:test');

const { readEnv } = require('../../demo/stub_pack');
const prefixState = require('../../demo/demo_prefix');

const REPO = path.resolve(__dirname, '..', '..');
const build = process.env.STUB_IDENTITY_BUILD;
const env = readEnv(path.join(build, 'demo', 'demo.env'));
const identity = prefixState.identityOf(env);

after(() => prefixState.removeProduct(env.wineprefix,
  { productCode: env.msi_product_code, samplesSetup: env.samples_setup, identity }));

test('the demo runs on a tree of another identity, signed by a certificate chained to a root', () => {
  assert.deepEqual(identity, { name: 'Qorvane', major: '7', settingsKey: 'HKEY_CURRENT_USER\\Software\\Halvern Works\\Setup\\Qorvane\\7' });
  assert.notEqual(env.signing_ca, env.signing_cert, 'the tree names the root its certificate chains to');

  const printed = path.join(build, 'identity-demo-output.txt');
  const fd = fs.openSync(printed, 'w');
  const result = spawnSync('bash', [path.join(REPO, 'scripts', 'demo.sh'), '--headless', '--build-dir', build],
    { stdio: ['ignore', fd, fd], timeout: 300000 });
  fs.closeSync(fd);
  const output = fs.readFileSync(printed, 'utf8');
  assert.equal(result.status, 0, output);

  const report = JSON.parse(fs.readFileSync(path.join(build, 'demo-run', 'report.json'), 'utf8'));
  assert.deepEqual(report.problems, []);
  assert.match(report.keptLog, /[\\/]Qorvane_log[\\/]installer_log_[^\\/]*\.txt$/);
  assert.equal(path.basename(report.product.path), 'QorvaneSetup.exe');
  assert.equal(path.basename(report.stub.path), 'QorvaneDemo.exe');
  // Both signatures verify up to the root, which is not the signing certificate.
  assert.equal(report.signingCa, env.signing_ca);
  assert.deepEqual([report.product.signature, report.stub.signature], ['ok', 'ok']);
  assert.match(output, /kept log: .*Qorvane_log/);
});
