'use strict';
// The shipped pages end to end: the development flavour of the product (its
// code and bundle, with the browser UI host) under Wine, its download address
// pointed at the shared nginx, installs the demo product's Windows Installer
// package. Every page is drawn at 96 and 144 DPI (device scale 1 and 1.5)
// into <build>/tests/e2e/screenshots/. Also: the run resumed with
// RESUME=INSTALLING after an installer asked for a restart, and a download
// that fails on the error page.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { test, beforeEach, after } = require('node:test');

const {
  buildEnv, outDir, nginx, publish, uniqueKey, packDevStub, nginxRequests, startFlow, finishFlow, expectedExitCode,
  prefixState,
} = require('./support');
const { demoComponents } = require('../../demo/demo_settings');

const env = buildEnv();
const servers = nginx();
const prefix = env.wineprefix;
const product = { productCode: env.msi_product_code, samplesSetup: env.samples_setup, identity: prefixState.identityOf(env) };
const MSI_NAME = 'Tessary-22.0-x64.msi';
const RUN_ONCE = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce';

beforeEach(() => prefixState.removeProduct(prefix, product));
after(async () => {
  await prefixState.removeProduct(prefix, product);
  // The all-users copy of the stub that the resumed run's RunOnce entry named.
  fs.rmSync(path.join(prefix, 'drive_c', 'ProgramData', 'Brelvo', product.identity.name), { recursive: true, force: true });
});

// The shipped settings with the download address on nginx (with the shipped
// ${lang} and ${osbits} fields) and, since Wine's facts trip the shipped
// minimum-system flags, none of them blocking.
function localSettings(key, extra = {}) {
  return {
    'config/config.js': { Config_MinSys: [], ...extra },
    'config/installparams.js': {
      'installParams.DOWNLOAD_URL': `${servers.base}/${key}/\${lang}/Tessary-22.0-x\${osbits}.msi`,
      'installParams.TYP_URL': `${servers.base}/${key}/thank-you.html`,
    },
  };
}

function publishProduct(key) {
  publish(servers, env.msi, `${key}/en/${MSI_NAME}`);
  fs.writeFileSync(path.join(servers.docroot, key, 'thank-you.html'), '<!DOCTYPE html><title>Thank you</title>\n');
}

function pngSize(file) {
  const head = fs.readFileSync(file).subarray(0, 24);
  assert.equal(head.subarray(1, 4).toString(), 'PNG', `${file} is a PNG`);
  return { width: head.readUInt32BE(16), height: head.readUInt32BE(20) };
}

// The kept log of the run and the Linux path of the file its engine downloaded.
function runLog(started) {
  const file = prefixState.keptLogSince(prefix, started, product.identity);
  assert.ok(file, 'the run kept its log');
  return fs.readFileSync(file, 'latin1');
}

// The product's files (relative to its folder, with '/') and its other traces.
async function assertInstalled(files = ['Readme.txt', 'Tessary.dat']) {
  const state = await prefixState.productState(prefix, env.msi_product_code);
  const folder = prefixState.productFolder(prefix);
  const names = state.files.map((f) => path.relative(folder, f.path).split(path.sep).join('/')).sort();
  assert.deepEqual(names, files);
  assert.ok(state.shortcut.endsWith('Tessary 22 Readme.lnk'), `shortcut: ${state.shortcut}`);
  assert.equal(state.uninstallEntry && state.uninstallEntry.DisplayName, 'Tessary 22');
  assert.equal(state.uninstallEntry.DisplayVersion, '22.0.0.0');
  assert.equal(state.productVersion, '22.0.0.0');
  return state;
}

for (const [scale, dpi] of [
  [1, '96dpi'],
  [1.5, '144dpi'],
]) {
  test(`the shipped flow at ${dpi}: Initialization, MinSys, Downloading, Installing, Finish; the product is installed`, async () => {
    const key = uniqueKey(`flow${dpi}`);
    publishProduct(key);
    const exe = packDevStub(env, `flow-${dpi}`, localSettings(key));
    const shotsDir = outDir('screenshots', dpi);
    fs.rmSync(shotsDir, { recursive: true, force: true });

    const session = await startFlow(env, exe, { scale, shotsDir });
    const { last, exitCode } = await finishFlow(session);

    assert.equal(last, 'Finish');
    assert.deepEqual(session.flow.documents, [
      'Load.html',
      'pages/Initialization/page.html',
      'pages/MinSys/page.html',
      'pages/Downloading/page.html',
      'pages/Installing/page.html',
      'pages/Finish/page.html',
    ]);
    assert.deepEqual(session.flow.errors, []);
    // Each page drawn, at this scale, at the size the start page gave the window.
    assert.deepEqual(session.flow.titles(), ['Load', 'Initialization', 'MinSys', 'Downloading', 'Installing', 'Finish']);
    const window = session.run.windowOps.filter((op) => op.op === 'resize').pop();
    for (const shot of session.flow.shots) assert.equal(pngSize(shot.file).width, Math.round(window.width * scale), shot.file);
    assert.equal(exitCode, await expectedExitCode());

    // A 64-bit English system: the x64 package in English, proved against its .meta.
    const asked = nginxRequests(servers, key).map(([method, uri]) => `${method} ${uri}`);
    assert.ok(asked.includes(`GET /${key}/en/${MSI_NAME}.meta`), asked.join('\n'));
    assert.ok(asked.includes(`GET /${key}/en/${MSI_NAME}`), asked.join('\n'));
    const log = runLog(session.started);
    const target = /Start download \S+ to (.+)\.\s*$/m.exec(log);
    assert.ok(target, 'the log names the download target');
    const downloaded = path.join(prefix, 'drive_c', ...target[1].slice(3).split('\\'));
    assert.ok(fs.readFileSync(downloaded).equals(fs.readFileSync(env.msi)), 'the downloaded package is the published one');
    await assertInstalled();
  });
}

test('a run that an installer stops for a restart comes back with RESUME=INSTALLING and finishes the install', async () => {
  const key = uniqueKey('resume');
  publishProduct(key);
  const samples = publish(servers, env.samples_zip, `${key}/Tessary-Samples-22.0.zip`);
  // The samples ZIP goes first, as a prerequisite whose setup asks for a restart.
  const [, prerequisite] = demoComponents(servers.base, { msi: 0, zip: fs.statSync(samples).size });
  prerequisite.files[0].url = `${servers.base}/${key}/Tessary-Samples-22.0.zip`;
  prerequisite.files[0].param = '/restart';
  const exe = packDevStub(env, 'resume', localSettings(key, { Config_PrerequisteComponents: [prerequisite] }));
  // The stub as the user started it (the launcher passes its path on).
  const stubPath = `Z:${exe.replace(/\//g, '\\')}`;
  const shotsDir = outDir('screenshots', 'resume');
  fs.rmSync(shotsDir, { recursive: true, force: true });

  const first = await startFlow(env, exe, { args: ['run=1', `shortcut=${stubPath}`], shotsDir: path.join(shotsDir, 'first') });
  const firstEnd = await finishFlow(first);
  assert.equal(firstEnd.last, 'Restart');
  const runOnce = await prefixState.registryValues(prefix, RUN_ONCE, 64);
  const entry = runOnce && runOnce.Tessary_22;
  // The entry runs elevated at the next logon: it names the stub's copy in the
  // protected all-users folder, never the file in the user's folder.
  const copy = /^"(C:\\ProgramData\\Brelvo\\Tessary\\TessarySetupDev\.exe)" RESUME=INSTALLING$/i.exec(entry || '');
  assert.ok(copy, `RunOnce entry: ${entry}`);
  const copyFile = path.join(prefix, 'drive_c', ...copy[1].slice(3).split('\\'));
  assert.ok(fs.readFileSync(copyFile).equals(fs.readFileSync(exe)), 'the copy is the stub that ran');
  const record = await prefixState.registryValues(prefix, `${product.identity.settingsKey}\\ResumeRecord`, 32);
  assert.ok(record && /^[A-Za-z]:\\/.test(record._Directory_), `resume record: ${JSON.stringify(record)}`);
  const before = await prefixState.productState(prefix, env.msi_product_code);
  assert.equal(before.samplesVersion, '22.0.0.0', 'the prerequisite installed before it asked for the restart');
  assert.equal(before.uninstallEntry, null, 'the product waits for the restart');
  const fetchedBefore = nginxRequests(servers, key).length;

  // What Windows runs after the restart: the entry's arguments.
  const second = await startFlow(env, exe, { args: ['run=1', 'RESUME=INSTALLING'], shotsDir: path.join(shotsDir, 'resumed') });
  const secondEnd = await finishFlow(second);
  assert.equal(secondEnd.last, 'Finish');
  assert.deepEqual(second.flow.documents, ['Load.html', 'pages/Installing/page.html', 'pages/Finish/page.html']);
  assert.deepEqual(second.flow.errors, []);
  assert.equal(secondEnd.exitCode, await expectedExitCode());
  assert.equal(nginxRequests(servers, key).length, fetchedBefore, 'the resumed run installs what the first one downloaded');
  await assertInstalled(['Readme.txt', 'Samples/README.txt', 'Tessary.dat']);
  const runOnceAfter = await prefixState.registryValues(prefix, RUN_ONCE, 64);
  assert.equal(runOnceAfter && runOnceAfter.Tessary_22, undefined, 'the finished install removes the entry');
  assert.equal(await prefixState.registryValues(prefix, `${product.identity.settingsKey}\\ResumeRecord`, 32), null);
});

// A port on 127.0.0.1 where nothing listens.
function closedPort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The shipped download is block-verified and resumable: every failed attempt
// counts as a failure (retried ten times), and the connection check that
// follows the last one tells a missing package from an unreachable server.
for (const { name, result, reportCode, text, base } of [
  { name: 'a package the server does not have', result: '4', reportCode: '30103', text: 'failure', base: async () => servers.base },
  {
    name: 'a server that does not answer',
    result: '8',
    reportCode: '30107',
    text: 'noNetwork',
    base: async () => `http://127.0.0.1:${await closedPort()}`,
  },
]) {
  test(`a download of ${name} ends on the error page with its text and report code`, async () => {
    const key = uniqueKey('failed');
    // Nothing published under the key.
    const settings = localSettings(key);
    settings['config/installparams.js']['installParams.DOWNLOAD_URL'] = `${await base()}/${key}/${MSI_NAME}`;
    const exe = packDevStub(env, `failed-${text}`, settings);
    const shotsDir = outDir('screenshots', `error-${text}`);
    fs.rmSync(shotsDir, { recursive: true, force: true });
    const session = await startFlow(env, exe, { shotsDir });
    let shown;
    try {
      assert.equal(await session.flow.waitForPage(['Error', 'Finish'], 240000), 'Error');
      await session.flow.draw();
      shown = await session.run.page.evaluate(() => ({
        result: appExternal.getProperty('errorResult'),
        reportCode: appExternal.getProperty('IM_ErrorCode'),
        message: document.getElementById('error-message').textContent,
        code: document.getElementById('error-code').textContent,
        texts: Config_StubMultiLangs.en,
      }));
    } catch (error) {
      await session.run.close(5000);
      throw error;
    }
    const { exitCode } = await finishFlow(session);
    assert.deepEqual([shown.result, shown.reportCode], [result, reportCode]);
    assert.equal(shown.message, shown.texts[text]);
    assert.ok(shown.code.includes(reportCode), shown.code);
    assert.equal(exitCode, await expectedExitCode());
    assert.match(runLog(session.started), new RegExp(`Download fail, download path : .*${MSI_NAME}`));
    assert.equal((await prefixState.productState(prefix, env.msi_product_code)).uninstallEntry, null);
  });
}
