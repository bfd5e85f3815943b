'use strict';
// The start page, in the order it works: the system version check, the
// run's status and channel, silent start, the self-update branch, the
// window size for the screen, and the page the resume mode asks for.

const assert = require('node:assert/strict');
const { test, before, after } = require('node:test');

const { startServer, launchBrowser, openPage, waitFor } = require('./support');

let server;
let browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await server.close();
});

async function load(native, options = {}) {
  const run = await openPage(browser, server.origin, 'Load.html', { stopAt: '**/*.html', native, ...options });
  await new Promise((resolve) => setTimeout(resolve, 150));
  const state = await run.state();
  // The order of what the start page asks and does; property reads and
  // writes in between are its own business.
  const names = state.calls.map((c) => c.name).filter((n) => n !== 'getProperty' && n !== 'setProperty');
  const zoom = await run.page.evaluate(() => document.body.style.zoom);
  await run.close();
  assert.deepEqual(run.errors, []);
  return { state, names, went: run.stopped, zoom };
}

const versions = [
  // [GetVersion text, refused]
  ['4.90', true],
  ['5.0', true],
  ['5', true],
  ['', true],
  ['5.1', false],
  ['5.2', false],
  ['6.0', false],
  ['10.0', false],
];

for (const [version, refused] of versions) {
  test(`system version "${version}" ${refused ? 'ends the run after one message box' : 'goes on'}`, async () => {
    const { state, names, went } = await load({ osVersion: version });
    if (refused) {
      assert.deepEqual(names, ['getOSVersion', 'messageBox', 'closeWindow']);
      assert.deepEqual(state.boxes, [{ kind: 'ok', text: 'Tessary requires Windows XP or later.', caption: 'Information' }]);
      assert.equal(state.closed, 1);
      assert.deepEqual(went, []);
    } else {
      assert.equal(state.closed, 0);
      assert.deepEqual(state.boxes, []);
      assert.deepEqual(went, ['/pages/Initialization/page.html']);
    }
  });
}

test('a normal start records NOTSTART and the channel, sizes the window, then asks the resume mode', async () => {
  const { state, names } = await load({});
  assert.deepEqual(names, [
    'getOSVersion',
    'setInstallStatus',
    'setChannel',
    'isSilentLaunchStub',
    'setWindowSize',
    'getResumeMode',
  ]);
  assert.deepEqual(state.calls.find((c) => c.name === 'setInstallStatus').args, [0]);
  assert.equal(state.status, 0);
  assert.equal(state.channel, 'web');
  assert.equal(state.hidden, false);
});

test('a silent start hides the window and still goes on', async () => {
  const { state, went } = await load({ silent: true });
  assert.equal(state.hidden, true);
  assert.deepEqual(went, ['/pages/Initialization/page.html']);
});

test('with self-update on and not skipped, the start goes to the SelfUpdate page without sizing', async () => {
  const { names, went } = await load({}, { init: 'Config_SupportSelfUpdate = true;' });
  assert.deepEqual(went, ['/pages/SelfUpdate/page.html']);
  assert.ok(names.includes('isSkipSelfUpdate'));
  assert.ok(!names.includes('setWindowSize') && !names.includes('getResumeMode'));
});

test('with self-update on but skipped (update=0), the start goes on as usual', async () => {
  const { went } = await load({ skipSelfUpdate: true }, { init: 'Config_SupportSelfUpdate = true;' });
  assert.deepEqual(went, ['/pages/Initialization/page.html']);
});

test('with self-update off, the skip question is not even asked', async () => {
  const { names } = await load({});
  assert.ok(!names.includes('isSkipSelfUpdate'));
});

// [screen width, height, expected setWindowSize, expected zoom]
const screens = [
  [1920, 1080, [587, 701], '0.9999'],
  [1366, 802, [587, 701], '0.9999'],
  [1366, 801, [470, 561], '0.8'],
  [1024, 768, [470, 561], '0.8'],
  [800, 600, [376, 449], '0.64'],
  [688, 900, [587, 701], '0.9999'],
  [687, 900, [470, 561], '0.8'],
  // A screen that nothing fits stops at the smallest share, it does not hang.
  [120, 90, [192, 230], '0.32768'],
];

for (const [width, height, size, zoom] of screens) {
  test(`a ${width} x ${height} screen gives a ${size.join(' x ')} window at zoom ${zoom}`, async () => {
    const { state, zoom: applied } = await load({}, { screen: { width, height } });
    assert.deepEqual(state.windowSizes, [size]);
    assert.equal(Number(applied).toFixed(5), Number(zoom).toFixed(5));
    assert.equal(Number(state.native.props.uiScaleRate).toFixed(5), Number(zoom).toFixed(5));
  });
}

const modes = [
  [0, ['/pages/Initialization/page.html']],
  [1, ['/pages/Downloading/page.html']],
  [2, ['/pages/Installing/page.html']],
  [3, []],
  [-1, []],
];

for (const [mode, went] of modes) {
  test(`resume mode ${mode} ${went.length ? `opens ${went[0]}` : 'stays on the start page'}`, async () => {
    const result = await load({ resumeMode: mode });
    assert.deepEqual(result.went, went);
    assert.equal(result.state.closed, 0);
  });
}

test('resume mode DOWNLOADING with a sequence that lacks Downloading closes the application', async () => {
  const result = await load({ resumeMode: 1 }, { init: 'Config_SequencePages = ["Initialization", "Installing"];' });
  assert.deepEqual(result.went, []);
  assert.equal(result.state.closed, 1);
});

test('the start page shows the product and its title bar in the setup language', async () => {
  for (const [lang, titlebar] of [['en', 'Tessary Setup'], ['cs', 'Instalace aplikace Tessary']]) {
    const run = await openPage(browser, server.origin, 'Load.html', { stopAt: '**/pages/**', native: { props: { lang } } });
    try {
      const shown = await run.page.evaluate(() => [$('#titlebar .app-name').text(), $('#banner .product').text()]);
      assert.deepEqual(shown, [titlebar, 'Tessary 22'], lang);
      assert.deepEqual(run.errors, []);
    } finally {
      await run.close();
    }
  }
});
