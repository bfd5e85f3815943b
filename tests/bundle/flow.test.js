'use strict';
// Whole runs of the shipped pages against the fake native side: the demo
// flow from the start page to Finish, a failed download, a cancelled one, a
// resumed install and an installer that asks for a restart. Every page is
// also drawn at 96 and 144 DPI (device scale 1 and 1.5), at the size of the
// window the stub opens on a declared screen, into STUB_BUNDLE_SCREENSHOTS
// for people to look at, and checked for anything cut off or left empty.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test, before, after } = require('node:test');

const { startServer, launchBrowser, openPage, stubWindow, waitFor } = require('./support');

const SHOTS = process.env.STUB_BUNDLE_SCREENSHOTS || path.join(__dirname, '..', '..', 'build', 'bundle-screenshots');

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

const title = (run) => run.page.title().catch(() => '');
const onPage = (run, name) => waitFor(async () => (await title(run)) === name, `the ${name} page`);

// Plays one call of the oldest running worker of the fake native side.
function drive(run, result, total, current) {
  return run.page.evaluate(
    ([r, t, c]) => {
      const worker = window.__fakeWorkers.find((w) => !w.done);
      if (!worker) return false;
      if (r !== 10) worker.done = true;
      worker.callback(r, t, c);
      return true;
    },
    [result, total, current],
  );
}

const workerStarted = (run, name) =>
  waitFor(() => run.page.evaluate((n) => (window.__fakeWorkers || []).some((w) => w.name === n && !w.done), name).catch(() => false), `a ${name} worker`);

async function shoot(run, name, folderName) {
  const folder = path.join(SHOTS, folderName);
  fs.mkdirSync(folder, { recursive: true });
  // Let fades and bars settle.
  await new Promise((resolve) => setTimeout(resolve, 400));
  const file = path.join(folder, `${name}.png`);
  await run.page.screenshot({ path: file });
  return file;
}

const MB = 1048576;
const INSTALLED = { 'hkey_local_machine\\software\\brelvo\\tessary\\22.0|installpath': 'C:\\Program Files\\Brelvo\\Tessary 22' };

test('the shipped flow: Load, Initialization, MinSys, Downloading, Installing, Finish', async () => {
  const run = await openPage(browser, server.origin, 'Load.html', {
    native: { workers: { download: 'hold', install: 'hold' }, registry: {}, osLang: 3 },
  });
  try {
    await onPage(run, 'Downloading');
    await workerStarted(run, 'download');
    await drive(run, 10, 96 * MB, 40 * MB);
    await drive(run, 10, 96 * MB, 61 * MB);
    assert.match(await run.page.textContent('#progress'), /63 % abgeschlossen|63%/);
    await drive(run, 0, 96 * MB, 96 * MB);

    await onPage(run, 'Installing');
    await workerStarted(run, 'install');
    await drive(run, 10, 1000, 420);
    // The bar names the component it installs, not the page's heading again.
    assert.deepEqual(await run.page.evaluate(() => [$('h1').text(), $('#progress .progress-name').text()]),
      ['Tessary wird installiert', 'Tessary 22']);
    // The installer "installs" the product: its folder appears in the
    // registry and its program on disk.
    await run.page.evaluate((registry) => {
      const state = JSON.parse(sessionStorage.getItem('__fakeExternal'));
      Object.assign(state.native.registry, registry);
      state.native.files.push('C:\\Program Files\\Brelvo\\Tessary 22\\Tessary.exe');
      sessionStorage.setItem('__fakeExternal', JSON.stringify(state));
    }, INSTALLED);
    await drive(run, 0, 1000, 1000);

    await onPage(run, 'Finish');
    const state = await run.state();
    assert.deepEqual(state.documents, [
      'Load.html',
      'pages/Initialization/page.html',
      'pages/MinSys/page.html',
      'pages/Downloading/page.html',
      'pages/Installing/page.html',
      'pages/Finish/page.html',
    ]);
    // German: the system's language, offered by the setup.
    assert.equal(state.native.props.lang, 'de');
    const [download] = state.started.filter((s) => s.worker === 'download');
    assert.deepEqual(download, {
      worker: 'download',
      url: 'https://download.brelvo.example/tessary/22.0/de/Tessary-22.0-x64.msi',
      file: 'C:\\Users\\me\\AppData\\Local\\Temp\\Tessary\\Tessary-22.0-x64.msi',
      crc: '',
      secure: true,
      resume: true,
    });
    const [install] = state.started.filter((s) => s.worker === 'install');
    assert.deepEqual(install, { worker: 'install', shortcut: 'Tessary Setup.lnk', file: download.file, param: '/qn REBOOT=ReallySuppress', seconds: 180 });
    assert.ok(state.native.files.includes('C:\\Users\\me\\AppData\\Local\\Temp\\Tessary'));
    assert.equal(state.status, 1);
    assert.ok(state.calls.some((c) => c.name === 'startRegApps'));
    assert.ok(state.calls.some((c) => c.name === 'GetGAPostURL' && /dp=%2FFinish/.test(c.args[0])));

    await run.page.click('#btn-finish');
    const end = await run.state();
    assert.equal(end.closed, 1);
    assert.deepEqual(
      end.calls.filter((c) => c.name === 'startProgram' || c.name === 'openPage').map((c) => [c.name, c.args[0]]),
      [
        ['startProgram', 'C:\\Program Files\\Brelvo\\Tessary 22\\Tessary.exe'],
        ['openPage', 'https://www.brelvo.example/tessary/thank-you?lang=de'],
      ],
    );
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

test('a finished download shows the size that arrived beside 100%, not the size the list announced', async () => {
  const run = await openPage(browser, server.origin, 'pages/Downloading/page.html', {
    native: { workers: { download: 'hold' }, props: { downloadPath: 'C:\\Down', downloadUrl: 'https://d.example/Tessary-22.0-x64.msi' } },
    stopAt: '**/pages/**',
  });
  try {
    await workerStarted(run, 'download');
    const MB_TENTH = MB / 10;
    await drive(run, 10, 15 * MB_TENTH, 12 * MB_TENTH);
    assert.equal(await run.page.textContent('#progress .progress-detail'), '1.2 MB of 1.5 MB');
    await drive(run, 0, 15 * MB_TENTH, 14 * MB_TENTH);
    await waitFor(() => run.page.evaluate(() => $('#progress .progress-percent').text()).then((t) => /100/.test(t)), '100%');
    assert.equal(await run.page.textContent('#progress .progress-detail'), '1.4 MB of 1.4 MB');
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

test('a failed download shows the error page with its text and report code', async () => {
  const run = await openPage(browser, server.origin, 'Load.html', {
    native: { workers: { download: [[10, 100, 10], [8, 100, 10]] } },
  });
  try {
    await onPage(run, 'Error');
    await waitFor(async () => (await run.page.textContent('#error-message')) !== '', 'the message');
    assert.equal(await run.page.textContent('#error-message'), 'No Internet connection. Connect to the Internet and try again.');
    assert.equal(await run.page.textContent('#error-code'), 'Error code: 30107');
    const state = await run.state();
    assert.equal(state.native.props.IM_ErrorCode, '30107');
    assert.equal(state.status, 2);
    assert.deepEqual(state.calls.filter((c) => c.name === 'manageDesktopShortcut').map((c) => c.args), [['Tessary Setup.lnk', true]]);
    assert.equal(state.started.filter((s) => s.worker === 'install').length, 0);
    await run.page.click('#btn-close-page');
    assert.equal((await run.state()).closed, 1);
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

test('cancelling a download asks first, stops the transfer and ends the run as cancelled', async () => {
  const run = await openPage(browser, server.origin, 'Load.html', {
    native: { workers: { download: 'hold' }, boxAnswers: [false, true] },
  });
  try {
    await onPage(run, 'Downloading');
    await workerStarted(run, 'download');
    await run.page.click('#btn-cancel');
    let state = await run.state();
    assert.equal(state.calls.filter((c) => c.name === 'stopDownload').length, 0);
    assert.equal(state.native.props.CancelYes, '');
    await run.page.click('#btn-close');
    await waitFor(async () => (await run.state()).closed === 1, 'the window to close');
    state = await run.state();
    assert.equal(state.calls.filter((c) => c.name === 'stopDownload').length, 1);
    assert.equal(state.status, 3);
    assert.equal(state.boxes.length, 2);
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

const RECORD = 'hkey_current_user\\software\\brelvo\\stubframework\\tessary\\22\\resumerecord';

test('RESUME=INSTALLING continues at the install from the resume record and clears it at the end', async () => {
  const registry = {
    [`${RECORD}|_os_`]: '32',
    [`${RECORD}|_isiso_`]: 'false',
    [`${RECORD}|_lang_`]: '2',
    [`${RECORD}|_directory_`]: 'D:\\Kept\\Tessary',
    [`${RECORD}|_isdownloadonly_`]: 'false',
    [`${RECORD}|__extract_in_download__`]: 'true',
    [`${RECORD}|_downloadurl_`]: 'https://download.brelvo.example/tessary/22.0/fr/Tessary-22.0-x86.msi',
    [`${RECORD}|_components_`]: 'Tessary32;',
  };
  const run = await openPage(browser, server.origin, 'Load.html', { native: { resumeMode: 2, registry } });
  try {
    await onPage(run, 'Finish');
    const state = await run.state();
    assert.deepEqual(state.documents, ['Load.html', 'pages/Installing/page.html', 'pages/Finish/page.html']);
    assert.equal(state.started.filter((s) => s.worker === 'download').length, 0);
    assert.deepEqual(
      state.started.filter((s) => s.worker === 'install').map((s) => s.file),
      ['D:\\Kept\\Tessary\\Tessary-22.0-x86.msi'],
    );
    assert.equal(state.native.props.lang, 'fr');
    assert.deepEqual(Object.keys(state.native.registry).filter((k) => k.startsWith(RECORD)), []);
    assert.equal(state.status, 1);
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

test('an installer that asks for a restart ends at the Restart page; Restart now restarts', async () => {
  const run = await openPage(browser, server.origin, 'Load.html', { native: { workers: { install: [[10, 10, 5], [11, 10, 10]] } } });
  try {
    await onPage(run, 'Restart');
    await run.page.click('#btn-now');
    const state = await run.state();
    assert.equal(state.status, 1);
    assert.equal(state.runOnce, null);
    const names = state.calls.map((c) => c.name);
    assert.ok(names.indexOf('removeRebootKey') < names.indexOf('restartSystemNoMsg'));
    assert.deepEqual(run.errors, []);
  } finally {
    await run.close();
  }
});

// Each page in a state worth looking at: [name, start, native, options, then]
const PAGES = [
  ['01-Load', 'Load.html', { resumeMode: 3 }, {}],
  ['02-Initialization', 'pages/Initialization/page.html', {}, { stopAt: '**/pages/**' }],
  ['03-MinSys', 'pages/MinSys/page.html', { props: { minSysFailed: 'LOWRES|LOWMEM|WIN8' } }, {}],
  // Passed: drawn as it leaves, with the frame and banner of every page and no empty heading or button.
  ['03-MinSys-passed', 'pages/MinSys/page.html', { props: { minSysFailed: '' } }, { stopAt: '**/pages/**' }],
  ['04-Welcome', 'pages/Welcome/page.html', {}, {}],
  ['05-Agreement', 'pages/Agreement/page.html', {}, { init: 'Config_ShowAgreement = true;' }],
  [
    '06-Prerequisite',
    'pages/Prerequisite/page.html',
    {},
    {
      init:
        'Config_PrerequisteComponents = [{ group: 1, type: ComponentType.Prerequiste | ComponentType.Selectable, name: "TessarySamples", files: [] }];',
    },
  ],
  ['07-PreInstall', 'pages/PreInstall/page.html', { props: { isDownload64: 'true' } }, {}],
  ['08-Download', 'pages/Download/page.html', { props: { downloadPath: 'C:\\Users\\me\\Downloads\\Tessary', downloadUrl: 'https://d.example/Tessary-22.0-x64.msi' }, sizes: { 'https://d.example/Tessary-22.0-x64.msi': '100663296' } }, {}],
  [
    '09-Downloading',
    'pages/Downloading/page.html',
    { workers: { download: 'hold' }, props: { downloadPath: 'C:\\Down', downloadUrl: 'https://d.example/Tessary-22.0-x64.msi' } },
    { stopAt: '**/pages/**' },
    async (run) => {
      await workerStarted(run, 'download');
      await drive(run, 10, 96 * MB, 41 * MB);
    },
  ],
  ['10-Install', 'pages/Install/page.html', {}, {}],
  [
    '11-Installing',
    'pages/Installing/page.html',
    { workers: { install: 'hold' }, props: { downloadPath: 'C:\\Down', downloadUrl: 'https://d.example/Tessary-22.0-x64.msi' } },
    { stopAt: '**/pages/**' },
    async (run) => {
      await workerStarted(run, 'install');
      await drive(run, 10, 1000, 580);
    },
  ],
  ['12-Finish', 'pages/Finish/page.html', { registry: INSTALLED }, {}],
  [
    '13-Error',
    'pages/Error/page.html',
    { props: { errorResult: '8', errorMessage: 'No Internet connection. Connect to the Internet and try again.', IM_ErrorCode: '30107' } },
    {},
  ],
  ['14-Restart', 'pages/Restart/page.html', {}, {}],
  [
    '15-SelfUpdate',
    'pages/SelfUpdate/page.html',
    { needSelfUpdate: true, workers: { selfUpdate: 'hold' } },
    {},
    async (run) => {
      await workerStarted(run, 'selfUpdate');
      await drive(run, 10, 4 * MB, 3 * MB);
    },
  ],
];

// The screens the window is drawn for, as the pages measure them (CSS
// pixels), and whether the window shrinks on them: Wine's default 1024 x 768
// desktop at 96 DPI, a 1920 x 1080 display at 150% (1280 x 720) at 144 DPI,
// and a 1920 x 1080 display at 96 DPI, where the window keeps its full size.
const SCREENS = [
  { folder: '96dpi', scale: 1, screen: { width: 1024, height: 768 }, shrinks: true },
  { folder: '144dpi', scale: 1.5, screen: { width: 1280, height: 720 }, shrinks: true },
  { folder: '96dpi-full', scale: 1, screen: { width: 1920, height: 1080 }, shrinks: false },
];

// The label of the primary button each page shows in the state it is drawn
// in; a page not named here shows none (a self-update in progress offers
// Close only once it fails).
const PRIMARY = {
  '03-MinSys': 'Exit Setup',
  '04-Welcome': 'Install',
  '05-Agreement': 'Next',
  '06-Prerequisite': 'Next',
  '07-PreInstall': 'Install',
  '08-Download': 'Next',
  '10-Install': 'Install',
  '12-Finish': 'Finish',
  '13-Error': 'Close',
  '14-Restart': 'Restart now',
};

// What a page shows at its window's size: anything outside the window or
// cut off by its own box, the banner picture's hexagon, the primary button,
// the headings. Runs in the page.
function lookAtPage() {
  const slack = 0.5;
  const shown = (el) => el.getClientRects().length > 0 && $(el).closest('.hidden').length === 0 && getComputedStyle(el).visibility !== 'hidden';
  const inWindow = (r) => r.left >= -slack && r.top >= -slack && r.right <= innerWidth + slack && r.bottom <= innerHeight + slack;
  const describe = (el) => el.id || `${el.tagName.toLowerCase()}.${el.className}`;
  // Outside the window, or holding more than its box shows (a box hides its
  // overflow, so what does not fit is cut off, not scrolled to).
  const outside = $('#frame, #titlebar, #titlebar *, #banner, #banner *, #content, #content h1, #footer, #footer button, .progress-label, .progress-name, .progress-percent')
    .filter(function () {
      if (!shown(this)) return false;
      const overflows = this.scrollWidth > this.clientWidth + 1 || this.scrollHeight > this.clientHeight + 1;
      return overflows || !inWindow(this.getBoundingClientRect());
    })
    .map(function () {
      return describe(this);
    })
    .get();
  // The banner's picture is drawn at the banner's size (588 x 180 before the
  // page's zoom); its hexagon spans x 430 to 562 and y 34 to 150 of it.
  let hexagon = 'no banner';
  const banner = document.getElementById('banner');
  if (banner && shown(banner)) {
    const box = banner.getBoundingClientRect();
    const zoom = box.height / parseFloat(getComputedStyle(banner).height);
    const [pictureWidth, pictureHeight] = getComputedStyle(banner).backgroundSize.split(' ').map(parseFloat);
    const hex = { left: box.left + 430 * zoom, top: box.top + 34 * zoom, right: box.left + 562 * zoom, bottom: box.top + 150 * zoom };
    const inBanner = hex.right <= box.right + slack && hex.bottom <= box.bottom + slack;
    hexagon = pictureWidth === 588 && pictureHeight === 180 && inBanner && inWindow(hex) ? 'whole' : `cut off: ${JSON.stringify(hex)} in ${JSON.stringify(box)}`;
  }
  const primary = $('.btn.primary').filter(function () {
    return shown(this);
  });
  const heading = $('#content h1').filter(function () {
    return shown(this);
  });
  const headingText = $.trim(heading.text());
  return {
    outside,
    hexagon,
    primary: primary.length ? $.trim(primary.text()) : null,
    title: $.trim(document.title) !== '',
    heading: heading.length === 0 || headingText !== '',
    // The heading is not said again by a label under it.
    repeated: $('#content *').not('h1').filter(function () {
      return shown(this) && this.children.length === 0 && headingText !== '' && $.trim($(this).text()) === headingText;
    }).length,
  };
}

for (const { folder, scale, screen, shrinks } of SCREENS) {
  test(`every page draws whole at ${folder} in the window the stub opens on a ${screen.width} x ${screen.height} screen`, async () => {
    const stub = await stubWindow(browser, server.origin, screen);
    // The declared screen reached the pages' sizing: the window shrank where it must.
    assert.equal(Number(stub.rate) < 0.9 && stub.viewport.width < 587, shrinks, JSON.stringify(stub));
    const written = [];
    for (const [name, start, native, options, then] of PAGES) {
      const run = await openPage(browser, server.origin, start, {
        native: { ...native, props: { uiScaleRate: stub.rate, ...native.props } },
        viewport: stub.viewport,
        screen,
        deviceScaleFactor: scale,
        ...options,
      });
      try {
        if (then) await then(run);
        written.push(await shoot(run, name, folder));
        const look = await run.page.evaluate(() => ({
          hdpi: document.documentElement.className.indexOf('hdpi') >= 0,
          // The banner and title bar, where a page has them, name the product of config/product.js.
          banner: $('#banner .product').length ? $('#banner .product').text() : 'Tessary 22',
          titlebar: $('#titlebar .app-name').length ? $('#titlebar .app-name').text() : 'Tessary Setup',
          empty: $('[data-text]').filter(function () {
            return $(this).closest('.hidden').length === 0 && $.trim($(this).text()) === '';
          }).length,
          broken: $('img').filter(function () {
            return !this.complete || this.naturalWidth === 0;
          }).length,
        }));
        assert.deepEqual(look, { hdpi: scale * Number(stub.rate) > 1.25, banner: 'Tessary 22', titlebar: 'Tessary Setup', empty: 0, broken: 0 }, name);
        assert.deepEqual(await run.page.evaluate(lookAtPage), {
          outside: [],
          hexagon: 'whole',
          primary: PRIMARY[name] || null,
          title: true,
          heading: true,
          repeated: 0,
        }, name);
        // A page that sizes the window asks for the one it is drawn in.
        for (const size of (await run.state()).windowSizes) assert.deepEqual(size, [stub.viewport.width, stub.viewport.height], name);
        assert.deepEqual(run.errors, [], name);
      } finally {
        await run.close();
      }
    }
    for (const file of written) assert.ok(fs.statSync(file).size > 2000, file);
  });
}

// The component list refresh (Config_MultiDownload): whatever it ends with (a
// list the native side refused for want of a signature is a Failure), the
// bundle's list stays in force and the flow goes on to the next page.
for (const [what, result] of [['refreshed', 0], ['refused or failed', 4], ['not found', 2], ['no network', 8]]) {
  test(`Initialization moves on when the list refresh is ${what}`, async () => {
    const run = await openPage(browser, server.origin, 'pages/Initialization/page.html', {
      native: { workers: { updateInstallerList: [[10, 100, 50], [result, 100, 100]] } },
      init: 'Config_MultiDownload = true;',
      stopAt: '**/pages/**',
    });
    try {
      await waitFor(() => run.stopped.length > 0, 'a navigation');
      assert.deepEqual(run.stopped, ['/pages/MinSys/page.html']);
      assert.equal((await run.calls('updateInstallerList')).length, 1);
      assert.deepEqual(run.errors, []);
    } finally {
      await run.close();
    }
  });
}

// After the last file the run has reached "downloaded" (status 5), whether it
// goes on to install or ends there: a run that then ends without an install
// outcome is reported at the step it reached, not as cancelled.
for (const [downloadOnly, next] of [['false', '/pages/Installing/page.html'], ['true', '/pages/Finish/page.html']]) {
  test(`a finished download sets the status to downloaded (download only: ${downloadOnly})`, async () => {
    const run = await openPage(browser, server.origin, 'pages/Downloading/page.html', {
      native: {
        workers: { download: 'hold' },
        props: { downloadPath: 'C:\\Down', downloadUrl: 'https://d.example/Tessary-22.0-x64.msi', isDownloadOnly: downloadOnly },
      },
      stopAt: '**/pages/**',
    });
    try {
      await workerStarted(run, 'download');
      assert.equal((await run.calls('setInstallStatus')).length, 0, 'nothing is settled while the file downloads');
      await drive(run, 0, MB, MB);
      await waitFor(() => run.stopped.length > 0, 'a navigation');
      assert.deepEqual(run.stopped, [next]);
      const state = await run.state();
      assert.equal(state.status, 5);
      assert.equal(state.native.props.Config_Status, '5');
      assert.deepEqual(run.errors, []);
    } finally {
      await run.close();
    }
  });
}

// The chosen folder reaches a Windows Installer package only through the
// property its component names; nothing is added for anyone else.
const INSTALL_DIR_CASES = [
  // [what, installDirProperty, installPath, file name, param, expected param]
  ['named property, chosen folder', 'INSTALLDIR', 'D:\\Apps\\Tessary', 'T.msi', '/qn', '/qn INSTALLDIR="D:\\Apps\\Tessary"'],
  ['another property name', 'APPDIR', 'D:\\Apps', 'T.MSI', '/qn', '/qn APPDIR="D:\\Apps"'],
  ['no property named', undefined, 'D:\\Apps', 'T.msi', '/qn', '/qn'],
  ['no folder chosen', 'INSTALLDIR', '', 'T.msi', '/qn', '/qn'],
  ['a folder that climbs out', 'INSTALLDIR', 'D:\\Apps\\..\\..\\Windows', 'T.msi', '/qn', '/qn'],
  ['not a Windows Installer package', 'INSTALLDIR', 'D:\\Apps', 'T.exe', '/S', '/S'],
  ['the parameters set it already', 'INSTALLDIR', 'D:\\Apps', 'T.msi', '/qn INSTALLDIR="E:\\X"', '/qn INSTALLDIR="E:\\X"'],
  ['a name that would add parameters', 'X=1 /qb', 'D:\\Apps', 'T.msi', '/qn', '/qn'],
  ['a name that is not text', 7, 'D:\\Apps', 'T.msi', '/qn', '/qn'],
];
test('the install folder is passed only to the components that name a property for it', async () => {
  for (const [what, property, folder, file, param, expected] of INSTALL_DIR_CASES) {
    const component = {
      group: 0, sku: 'S', type: 8, name: 'Tool', estimatedTime: 5,
      files: [{ name: file, url: 'https://d.example/' + file, param, size: 1, installSize: 1, crc: '' }],
    };
    if (property !== undefined) component.installDirProperty = property;
    const run = await openPage(browser, server.origin, 'pages/Installing/page.html', {
      native: { workers: { install: 'hold' }, props: { downloadPath: 'C:\\Down', installPath: folder } },
      init: 'Config_MultiDownload = true;',
      append: [['**/config/installerlist.js', `Components = [${JSON.stringify(component)}];`]],
      stopAt: '**/pages/**',
    });
    try {
      await workerStarted(run, 'install');
      const [install] = (await run.state()).started.filter((s) => s.worker === 'install');
      assert.equal(install.file, 'C:\\Down\\' + file, what);
      assert.equal(install.param, expected, what);
      assert.deepEqual(run.errors, [], what);
    } finally {
      await run.close();
    }
  }
});
