'use strict';
// The shared page logic against the fake native side: parameter
// substitution, the resume record with its registry names, post-install
// actions, error texts and report codes, and the job list.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
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

// Runs `fn(arg)` in a probe page whose native side starts as `native`;
// answers its value and the native state afterwards.
async function probe(native, fn, arg, options = {}) {
  const run = await openPage(browser, server.origin, 'pages/Probe/page.html', { native, stopAt: '**/*.html', ...options });
  try {
    const value = await run.page.evaluate(fn, arg);
    const state = await run.state();
    assert.deepEqual(run.errors, []);
    return { value, state, went: run.stopped };
  } finally {
    await run.close();
  }
}

const BASE = 'hkey_current_user\\software\\brelvo\\stubframework\\tessary\\22\\resumerecord';
const reg = (state, name) => state.native.registry[`${BASE}|${name.toLowerCase()}`];

test('replaceParams fills every ${name} token once and leaves everything else', async () => {
  const cases = [
    ['/qn INSTALLDIR="${installPath}"', '/qn INSTALLDIR="C:\\Tools"'],
    ['${a}${b_2}-${a}', 'x$&y-x'],
    ['${missing}|', '|'],
    ['$ {a} ${a b} ${} $a ${a', '$ {a} ${a b} ${} $a ${a'],
    ['${loop}', '${a}'],
    ['$LOGFILE$ $STUBPATH$', '$LOGFILE$ $STUBPATH$'],
  ];
  const { value } = await probe(
    { props: { installPath: 'C:\\Tools', a: 'x', b_2: '$&y', loop: '${a}' } },
    (inputs) => inputs.map((text) => replaceParams(text)),
    cases.map((c) => c[0]),
  );
  assert.deepEqual(value, cases.map((c) => c[1]));
});

test('record writes the resume record under the base key with its exact value names', async () => {
  const { state } = await probe(
    {
      props: {
        lang: 'de',
        isDownload64: 'true',
        isISO: 'false',
        downloadPath: 'D:\\Setup\\Tessary',
        isDownloadOnly: 'false',
        isExtractInDownload: 'true',
        downloadUrl: 'https://download.brelvo.example/a/Tessary-22.0-x64.msi',
        downloadSize: '734003200',
        Tessary: 'true',
      },
    },
    () => {
      Config_PrerequisteComponents = [{ name: 'Runtime', type: ComponentType.Prerequiste, files: [] }];
      record();
    },
  );
  const written = state.calls.filter((c) => c.name === 'setDataToReg');
  assert.ok(written.every((c) => c.args[0] === 'HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22\\ResumeRecord' && c.args[3] === true));
  assert.deepEqual(
    written.map((c) => [c.args[1], c.args[2]]),
    [
      ['_OS_', '64'],
      ['_IsISO_', 'false'],
      ['_Lang_', '3'],
      ['_Directory_', 'D:\\Setup\\Tessary'],
      ['_IsDownloadOnly_', 'false'],
      ['__Extract_In_Download__', 'true'],
      ['_DownloadUrl_', 'https://download.brelvo.example/a/Tessary-22.0-x64.msi'],
      ['_DownloadSize_', '734003200'],
      // Only components whose property is "true": the runtime is not.
      ['_Components_', 'Tessary64;'],
    ],
  );
});

test('record leaves out an empty download address and size', async () => {
  const { state } = await probe({ props: { downloadPath: 'C:\\D' } }, () => record());
  const names = state.calls.filter((c) => c.name === 'setDataToReg').map((c) => c.args[1]);
  assert.ok(!names.includes('_DownloadUrl_') && !names.includes('_DownloadSize_'));
  assert.equal(reg(state, '_OS_'), '32');
  assert.equal(reg(state, '_Components_'), '');
});

// One entry per selected component of the list: a name that ends another
// ("der" in "Reader64;") is a component of its own and is kept.
test('record lists every selected component, also one whose name ends another', async () => {
  const { state } = await probe({ props: { downloadPath: 'C:\\D', isDownload64: 'true', Reader: 'true', der: 'true', Off: 'false' } }, () => {
    Config_PrerequisteComponents = [{ name: 'Reader', files: [] }, { name: 'Off', files: [] }, { name: 'der', files: [] }];
    record();
  });
  assert.equal(reg(state, '_Components_'), 'Reader64;der64;');
});

test('resume reads the record back into the properties, the language and the components', async () => {
  const registry = {};
  const put = (name, data) => {
    registry[`${BASE}|${name.toLowerCase()}`] = data;
  };
  put('_OS_', '64');
  put('_IsISO_', 'true');
  put('_Lang_', '5');
  put('_Directory_', 'D:\\Setup\\Tessary');
  put('_IsDownloadOnly_', 'false');
  put('__Extract_In_Download__', 'true');
  put('_DownloadUrl_', 'https://download.brelvo.example/a.msi');
  put('_Components_', 'Tessary64;Samples32;;');
  const { value, state } = await probe({ registry }, () => resume());
  assert.equal(value, true);
  const p = state.native.props;
  assert.deepEqual(
    [p.isDownload64, p.isISO, p.downloadPath, p.isDownloadOnly, p.isExtractInDownload, p.downloadUrl, p.lang],
    ['true', 'true', 'D:\\Setup\\Tessary', 'false', 'true', 'https://download.brelvo.example/a.msi', 'jp'],
  );
  assert.deepEqual([p.Tessary64, p.Tessary, p.Samples32, p.Samples], ['true', 'true', 'true', 'true']);
  assert.equal(p.downloadSize, undefined);
});

test('resume refuses a record whose folder is missing, relative or climbs out', async () => {
  for (const directory of ['', 'Setup', '..\\x', 'C:\\a\\..\\..\\Windows', '\\\\server\\share']) {
    const registry = { [`${BASE}|_directory_`]: directory, [`${BASE}|_components_`]: 'Tessary64;' };
    const { value, state } = await probe({ registry }, () => resume());
    assert.equal(value, false, directory);
    assert.equal(state.native.props.downloadPath, undefined, directory);
  }
});

test('updateComponents drops the finished component; delRecord deletes the key in the 32-bit view', async () => {
  const registry = { [`${BASE}|_components_`]: 'Tessary64;Samples64;Runtime32;', [`${BASE}|_os_`]: '64' };
  const { state } = await probe({ registry }, () => {
    updateComponents('Samples');
    updateComponents('Runtime32');
    return true;
  });
  assert.equal(reg(state, '_Components_'), 'Tessary64;');
  const deleted = await probe({ registry }, () => delRecord());
  assert.deepEqual(deleted.state.calls.filter((c) => c.name === 'deleteRegKey').map((c) => c.args), [
    ['HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22\\ResumeRecord', false],
  ]);
  assert.deepEqual(deleted.state.native.registry, {});
});

test('prepareResume records and registers the restart; undoPrepareResume removes both', async () => {
  const { state } = await probe({ props: { downloadPath: 'C:\\D', Tessary: 'true' } }, () => prepareResume('INSTALLING'));
  assert.equal(state.runOnce, '"C:\\Users\\me\\Downloads\\TessarySetup.exe" RESUME=INSTALLING');
  assert.equal(reg(state, '_Directory_'), 'C:\\D');
  const names = state.calls.map((c) => c.name).filter((n) => n === 'setDataToReg' || n === 'runAfterReboot');
  assert.equal(names[names.length - 1], 'runAfterReboot');

  const undone = await probe({ registry: state.native.registry }, () => undoPrepareResume());
  const order = undone.state.calls.map((c) => c.name).filter((n) => n === 'undoRunAfterReboot' || n === 'deleteRegKey');
  assert.deepEqual(order, ['undoRunAfterReboot', 'deleteRegKey']);
  assert.deepEqual(undone.state.native.registry, {});
});

test('post-install actions prefer registry data to their defaults and skip empty ones', async () => {
  const key = 'hkey_local_machine\\software\\brelvo\\setup\\stubframework';
  const cases = [
    // [registry values, defaults (APP, URL, CMD), expected calls]
    [{}, ['', '', ''], []],
    [{}, ['C:\\T\\app.exe', 'https://x.example/', 'echo 1'], [['runApplication', 'C:\\T\\app.exe'], ['openPage', 'https://x.example/'], ['executeCommand', 'echo 1']]],
    [{ runapp: 'C:\\R\\run.exe', executecmd: 'reg.cmd' }, ['C:\\T\\app.exe', '', 'echo 1'], [['runApplication', 'C:\\R\\run.exe'], ['executeCommand', 'reg.cmd']]],
    [{ openurl: 'https://r.example/' }, ['', '', ''], [['openPage', 'https://r.example/']]],
  ];
  for (const [values, defaults, expected] of cases) {
    const registry = {};
    for (const [name, data] of Object.entries(values)) registry[`${key}|${name}`] = data;
    const { value, state } = await probe({ registry }, (d) => {
      for (let i = 0; i < 3; i++) Config_PostInstallActions[i].data = d[i];
      return runPostInstallActions();
    }, defaults);
    const started = state.calls.filter((c) => ['runApplication', 'openPage', 'executeCommand'].includes(c.name));
    assert.deepEqual(started.map((c) => [c.name, c.args[0]]), expected);
    assert.ok(value.every((r) => r.started === true));
  }
});

// Every result code: its text key and its report code.
const results = [
  [0, 'unknowError', '0'],
  [1, 'unknowError', '30100'],
  [2, 'fileNotExist', '30101'],
  [3, 'diskFull', '30102'],
  [4, 'failure', '30103'],
  [5, 'unknowError', '30104'],
  [6, 'md5Error', '30105'],
  [7, 'volumeReadOnly', '30106'],
  [8, 'noNetwork', '30107'],
  [9, 'cancelled', '30108'],
  [10, 'running', '30109'],
  [11, 'unknowError', '30110'],
  [12, 'haveInstalled', '30111'],
  [13, 'win7GM', '30112'],
  [14, 'IE8', '30113'],
  [15, 'Error1638', '1638'],
  [16, 'Error30500', '30500'],
  [17, 'Error30508', '30508'],
  [18, 'Error30509', '30509'],
  [19, 'Error20000', '20000'],
  [20, 'win8GM', '30114'],
  [30, 'Win10Required', '30115'],
  // Numbers that are no result code.
  [25, 'unknowError', '30100'],
  [-1, 'unknowError', '30100'],
];

for (const lang of ['en', 'ru']) {
  test(`getErrorText and setErrorCodeUrl for every result code (${lang})`, async () => {
    const { value } = await probe({ props: { lang } }, (codes) => {
      return codes.map((code) => {
        setErrorCodeUrl(code);
        return [getErrorText(code), appExternal.getProperty('IM_ErrorCode')];
      });
    }, results.map((r) => r[0]));
    const { value: texts } = await probe({ props: { lang } },
      (keys) => keys.map((k) => Lang.withProduct(Config_StubMultiLangs[Lang.code()][k])), results.map((r) => r[1]));
    assert.deepEqual(value, results.map((r, i) => [texts[i], r[2]]));
    assert.ok(texts.every((t) => typeof t === 'string' && t.length > 0));
  });
}

test('the product name and version come from config/product.js into every text of every language', async () => {
  const { value } = await probe({}, () => {
    const raw = [];
    const left = [];
    for (const code of Object.keys(Config_StubMultiLangs)) {
      for (const key of Object.keys(Config_StubMultiLangs[code])) {
        const text = Config_StubMultiLangs[code][key];
        if (/Tessary/.test(text)) raw.push(`${code}.${key}`);
        if (/[{}]/.test(Lang.text(key, code))) left.push(`${code}.${key}`);
      }
    }
    return {
      raw,
      left,
      texts: ['installingTitle', 'appTitle', 'Tessary', 'TessarySamples'].map((k) => Lang.text(k, 'en')),
      german: Lang.text('installingTitle', 'de'),
      shortcut: stubParams.shortcut,
    };
  }, null, { init: 'Product.name = "Ostrava Notes"; Product.version = "3.1";' });
  // No text spells the shipped name; none keeps a field unfilled.
  assert.deepEqual(value.raw, []);
  assert.deepEqual(value.left, []);
  assert.deepEqual(value.texts, ['Installing Ostrava Notes', 'Ostrava Notes Setup', 'Ostrava Notes 3.1', 'Ostrava Notes sample projects']);
  assert.equal(value.german, 'Ostrava Notes wird installiert');
  assert.equal(value.shortcut, 'Ostrava Notes Setup.lnk');
});

test('a component is shown by its text key, else by its name, else as the key itself', async () => {
  const { value } = await probe({}, (cases) => cases.map((c) => ComponentList.displayName(c, 'en')),
    [{ name: 'Tessary' }, { name: 'OstravaNotes', text: 'Tessary' }, { name: 'Other', text: 'noSuchText' }, { name: 'Plain' }]);
  assert.deepEqual(value, ['Tessary 22', 'Tessary 22', 'noSuchText', 'Plain']);
});

test('isSafeRelativeName follows the shared table of relative names', async () => {
  // The same table the native ZIP entry check is tested with.
  const table = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'archive', 'entry_names.json'), 'utf8'));
  assert.ok(table.cases.length > 40);
  const { value } = await probe({}, (names) => names.map((name) => isSafeRelativeName(name)), table.cases.map((c) => c[0]));
  const wrong = table.cases.filter((c, i) => value[i] !== c[1]).map((c) => JSON.stringify(c[0]));
  assert.deepEqual(wrong, []);
  // Only the pages' side: "\\" is not a separator there, and names are short.
  const { value: own } = await probe({}, (names) => names.map((name) => isSafeRelativeName(name)),
    ['a\\b', 'n'.repeat(200), 'n'.repeat(201), 42]);
  assert.deepEqual(own, [false, true, false, false]);
});

test('the job list keeps the chosen bitness, skips installed components and refuses unsafe names', async () => {
  const list = [
    { group: 0, type: 2, name: 'Main', files: [{ name: 'Main/x64.msi', url: 'https://d.example/x64.msi', param: '/qn', size: 5, crc: '' }] },
    { group: 0, type: 1, name: 'Main', files: [{ name: 'Main/x86.msi', url: 'https://d.example/x86.msi', param: '/qn', size: 4, crc: '' }] },
    { group: 1, type: 4, name: 'Extra', files: [{ name: 'extra.zip', url: 'https://d.example/${lang}/e.zip', size: 2, crc: '12' }] },
    { group: 2, type: 4, name: 'Off', files: [{ name: 'off.msi', url: 'https://d.example/off.msi', param: '', size: 1 }] },
    { group: 3, type: 0, name: 'Have', registry: { key: 'HKLM\\SOFTWARE\\Have', value: 'Dir' }, files: [{ name: 'h.msi', url: 'https://d.example/h.msi' }] },
    { group: 4, type: 0, name: 'Climb', files: [{ name: '../../Windows/evil.exe', url: 'https://d.example/e.exe', param: '' }] },
    { group: 5, type: 0, name: 'Local', files: [{ name: 'l.exe', url: 'file:///C:/l.exe', param: '' }] },
    { group: 6, type: 0, name: 'Drive', files: [{ name: 'C:/x.exe', url: 'https://d.example/x.exe', param: '' }] },
  ];
  const { value, state } = await probe(
    { props: { isDownload64: 'true', Off: 'false', lang: 'de' }, registry: { 'hkey_local_machine\\software\\have|dir': 'C:\\Have' } },
    (components) => {
      var jobs = Jobs.setJobs(components, 'D:\\Down\\');
      return {
        jobs: jobs.map((j) => [j.component.name, j.url, j.path, j.folder, j.isInstaller]),
        installers: Jobs.installers().map((j) => j.component.name),
        skipped: Jobs.installedSkipped,
        rejected: Jobs.rejected,
        size: Jobs.totalSize(),
      };
    },
    list,
  );
  assert.deepEqual(value.jobs, [
    ['Main', 'https://d.example/x64.msi', 'D:\\Down\\Main\\x64.msi', 'D:\\Down\\Main', true],
    ['Extra', 'https://d.example/de/e.zip', 'D:\\Down\\extra.zip', 'D:\\Down', false],
  ]);
  assert.deepEqual(value.installers, ['Main']);
  assert.equal(value.skipped, 1);
  assert.equal(value.rejected, 3);
  assert.equal(value.size, 7);
  assert.equal(state.native.props.Main, 'true');
  assert.equal(state.native.props.Extra, 'true');
  assert.notEqual(state.native.props.Climb, 'true');
});

test('a file entry\'s mirrors are kept in order, or the component is refused when any is malformed', async () => {
  const seven = [1, 2, 3, 4, 5, 6, 7].map((i) => `https://m${i}.example/f.msi`);
  const cases = [
    ['absent', []],
    [[], []],
    [['https://m.example/${lang}/f.msi', 'HTTPS://n.example/f.msi'], ['https://m.example/de/f.msi', 'HTTPS://n.example/f.msi']],
    [seven, seven],
    [seven.concat(['https://m8.example/f.msi']), null],  // more than the stub takes
    [['http://m.example/f.msi'], null],                  // leaves TLS
    [['ftp://m.example/f.msi'], null],
    [['https://m.example/a b.msi'], null],
    [[42], null],
    ['https://m.example/f.msi', null],                   // not a list
    [null, null],
    [['https://d.example/de/f.msi'], null],              // the file's own URL again
    [['https://m.example/f.msi', 'https://m.example/f.msi'], null],
  ];
  const { value } = await probe({ props: { lang: 'de' } }, (all) => all.map((mirrors) => {
    var file = { name: 'f.msi', url: 'https://d.example/${lang}/f.msi', param: '' };
    if (mirrors !== 'absent') file.mirrors = mirrors;
    var jobs = Jobs.jobsOf({ name: 'C', files: [file] }, 'D:\\Down\\');
    return jobs === null ? null : jobs[0].mirrors;
  }), cases.map((c) => c[0]));
  assert.deepEqual(value, cases.map((c) => c[1]));
});

// The Downloading page with a list that yields no job reports through the
// callback path of a real download: the error page with its text and code.
const WATCH_RESULTS = `(function () {
  var handler = Downloading.onResult;
  window.__results = [];
  Downloading.onResult = function (result, total, current) {
    window.__results.push([result, total, current]);
    return handler(result, total, current);
  };
})();`;
for (const [installed, code, text] of [
  [true, '30111', 'Tessary is already installed on this computer.'],
  [false, '30101', 'The installation file could not be found on the server. Please try again later.'],
]) {
  test(`a component list without jobs reports ${installed ? 'HaveInstalled' : 'FileNotExist'} through the download callback`, async () => {
    const registry = installed ? { 'hkey_local_machine\\software\\brelvo\\tessary\\22.0|installpath': 'C:\\Tessary' } : {};
    const init = installed
      ? 'Config_SingleDownload = { estimatedTime: 180, registry: { key: "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Brelvo\\\\Tessary\\\\22.0", value: "InstallPath" } };'
      : '';
    const run = await openPage(browser, server.origin, 'pages/Downloading/page.html', {
      native: { registry, props: { downloadPath: 'C:\\Down', downloadUrl: installed ? 'https://d.example/T.msi' : 'not an address' } },
      stopAt: '**/pages/**',
      init,
      // Records what reaches the handler that native download callbacks call.
      append: [['**/Downloading/page.js', WATCH_RESULTS]],
    });
    try {
      await waitFor(() => run.stopped.length > 0, 'the error page');
      assert.deepEqual(await run.page.evaluate(() => window.__results), [[installed ? 12 : 2, 0, 0]]);
      const state = await run.state();
      assert.deepEqual(run.stopped, ['/pages/Error/page.html']);
      assert.equal(state.native.props.IM_ErrorCode, code);
      assert.equal(state.native.props.errorMessage, text);
      assert.equal(state.calls.filter((c) => c.name === 'download').length, 0);
      assert.deepEqual(run.errors, []);
    } finally {
      await run.close();
    }
  });
}
