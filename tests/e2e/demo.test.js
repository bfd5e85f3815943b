'use strict';
// The demo, as the README's first command runs it, once, headless, on this
// build's binaries: it must install the demo product, show the re-fetch from
// the damaged block, and report what the telemetry service received.

const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { test, after } = require('node:test');

const { buildEnv, expectedExitCode, prefixState } = require('./support');
const { BLOCK, metaFileSize, blockCount } = require('../../demo/demo_settings');

const REPO = path.resolve(__dirname, '..', '..');
const env = buildEnv();
const build = process.env.STUB_BUILD_DIR_UNDER_TEST;
const DAMAGED_BLOCK = 4;

after(() => prefixState.removeProduct(env.wineprefix,
  { productCode: env.msi_product_code, samplesSetup: env.samples_setup, identity: prefixState.identityOf(env) }));

test('the demo installs the product through the pages and reports the re-fetch, the install and the funnel', async () => {
  assert.ok(build, 'STUB_BUILD_DIR_UNDER_TEST names the build tree');
  // The output goes to a file: a pipe could be held open by a Wine process.
  const printed = path.join(build, 'tests', 'e2e', 'demo-output.txt');
  fs.mkdirSync(path.dirname(printed), { recursive: true });
  const fd = fs.openSync(printed, 'w');
  const started = Date.now();
  const result = spawnSync('bash', [path.join(REPO, 'scripts', 'demo.sh'), '--headless', '--build-dir', build],
    { stdio: ['ignore', fd, fd], timeout: 300000 });
  fs.closeSync(fd);
  const output = fs.readFileSync(printed, 'utf8');
  assert.equal(result.status, 0, output);
  // Built binaries: the run itself (servers, prefix, pages, report) is the part the budget of
  // five minutes leaves to it; about 20 s measured.
  assert.ok(Date.now() - started < 120000, `well under five minutes: ${(Date.now() - started) / 1000} s`);

  const report = JSON.parse(fs.readFileSync(path.join(build, 'demo-run', 'report.json'), 'utf8'));
  assert.deepEqual(report.run.pages, ['Load', 'Initialization', 'MinSys', 'Downloading', 'Installing', 'Finish']);
  assert.deepEqual(report.run.pageErrors, []);
  assert.equal(report.run.exitCode, await expectedExitCode());
  for (const shot of report.run.shots) assert.ok(fs.existsSync(shot.file), shot.file);

  // The package: whole once, with one byte of the damaged block flipped, then
  // again from the start of that block only.
  const size = metaFileSize(`${env.msi}.meta`);
  const msi = report.downloads.requests.filter((r) => r.method === 'GET' && r.path.endsWith('/Tessary-22.0.msi'));
  assert.equal(msi.length, 2, JSON.stringify(msi));
  assert.equal(Math.floor(msi[0].flipped / BLOCK), DAMAGED_BLOCK);
  assert.equal(msi[0].bytes, size);
  assert.equal(msi[1].range, `bytes=${DAMAGED_BLOCK * BLOCK}-${size - 1}`);
  assert.deepEqual([msi[1].status, msi[1].bytes, msi[1].flipped], [206, size - DAMAGED_BLOCK * BLOCK, null]);
  // Nothing else is fetched twice: with the release key, each .meta is read
  // once, for its signature check, and the download uses those bytes.
  assert.equal(report.downloads.refetched, size - DAMAGED_BLOCK * BLOCK);
  if (env.release_key) {
    // The list and both .meta files were proved against the release key; nothing was refused.
    const proved = report.signatures.verified.map((p) => p.split('/').pop()).sort();
    assert.deepEqual(proved, ['Tessary-22.0.msi.meta', 'Tessary-Samples-22.0.zip.meta', 'installerlist.js']);
    assert.deepEqual(report.signatures.refused, []);
  }
  assert.deepEqual(report.blocks.map((b) => b.blocks), [blockCount(size), blockCount(metaFileSize(`${env.samples_zip}.meta`))]);
  assert.ok(report.logLines.some((line) => line.includes(`Hash mismatch found for block ${DAMAGED_BLOCK}.`)), report.logLines.join('\n'));

  const names = report.installed.files.map((f) => f.windowsPath.split('\\').slice(-2).join('\\')).sort();
  assert.deepEqual(names, ['Samples\\README.txt', 'Tessary 22\\Readme.txt', 'Tessary 22\\Tessary.dat']);
  assert.equal(report.installed.uninstallEntry.DisplayName, 'Tessary 22');
  assert.equal(report.installed.uninstallEntry.DisplayVersion, '22.0.0.0');
  assert.ok(report.installed.shortcut);
  assert.equal(report.installed.samplesVersion, '22.0.0.0');
  assert.equal(report.product.signature, 'ok');
  assert.equal(report.stub.signature, 'ok');
  assert.ok(fs.existsSync(report.keptLog), report.keptLog);

  // One run started and ended, as the service counted it.
  assert.match(report.telemetry, /runs started: 1\n/);
  assert.match(report.telemetry, /runs ended: +1\n/);
  // What the person at the screen reads carries the same facts.
  for (const line of ['re-fetched', 'blocks verified', 'exit code', 'uninstall entry', 'kept log', 'screenshots', 'Install funnel']) {
    assert.ok(output.includes(line), `the printed report names ${line}`);
  }
});
