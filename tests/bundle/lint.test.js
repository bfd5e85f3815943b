'use strict';
// The bundle's scripts are ES5 that IE11 runs, and its texts are complete:
// the lint passes on the bundle and fails on every newer construct, and
// every language has every text the pages ask for.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');
const { test } = require('node:test');
const { ESLint } = require('eslint');

const REPO = path.resolve(__dirname, '..', '..');
const BUNDLE = path.join(REPO, 'bundle');
const CONFIG = path.join(__dirname, 'eslint.config.js');

function linter() {
  return new ESLint({ cwd: REPO, overrideConfigFile: CONFIG });
}

function problems(results) {
  return results.flatMap((r) => r.messages.map((m) => `${path.relative(REPO, r.filePath)}:${m.line}: ${m.message}`));
}

test('the bundle passes the ES5 lint', async () => {
  const results = await linter().lintFiles(['bundle']);
  assert.ok(results.length >= 40, `only ${results.length} files were linted`);
  assert.ok(results.some((r) => r.filePath.endsWith('Load.html')), 'the start page script was not linted');
  assert.deepEqual(problems(results), []);
});

// Each construct lands in a script of the bundle's kind and must be refused.
const refused = [
  ['let', 'let a = 1;'],
  ['const', 'const a = 1;'],
  ['arrow function', 'var f = (a) => a;'],
  ['template string', 'var s = `x`;'],
  ['class', 'class A {}'],
  ['default parameter', 'function f(a = 1) { return a; }'],
  ['spread', 'var a = [1]; var b = [].concat(...a);'],
  ['destructuring', 'var { a } = {};'],
  ['for of', 'for (var x of []) {}'],
  ['Promise', 'var p = Promise.resolve(1);'],
  ['fetch', 'fetch("x");'],
  ['String includes', 'var b = "abc".includes("a");'],
  ['Object.assign', 'var o = Object.assign({}, {});'],
  ['Array.from', 'var a = Array.from("ab");'],
  ['an undefined name', 'notDefinedAnywhere();'],
];

for (const [what, code] of refused) {
  test(`the lint refuses ${what}`, async () => {
    const [result] = await linter().lintText(code, { filePath: path.join(BUNDLE, 'common', 'js', 'probe.js') });
    assert.ok(result.errorCount > 0, `${what} passed the lint`);
  });
}

test('the lint reads scripts inside pages too', async () => {
  const page = '<!DOCTYPE html><html><head><title>x</title></head><body><script>\nlet a = 1;\n</script></body></html>';
  const [result] = await linter().lintText(page, { filePath: path.join(BUNDLE, 'pages', 'Probe', 'page.html') });
  assert.ok(result.errorCount > 0);
});

// The host calls a method with arguments as a property read only when the
// script uses its value: a method the table marks method-get must have its
// value used, and a plain method with arguments must stand as a statement.
test('every native call has the shape the method table asks for', () => {
  const { nativeMethods } = require('./support');
  const methods = nativeMethods();
  const wrong = [];
  let seen = 0;
  for (const file of bundleFiles(BUNDLE, /\.(html|js)$/)) {
    const lines = fs.readFileSync(file, 'utf8').split('\n');
    lines.forEach((line, index) => {
      for (const match of line.matchAll(/appExternal\.(\w+)\(/g)) {
        const method = methods[match[1]];
        const where = `${path.relative(REPO, file)}:${index + 1}`;
        seen++;
        if (!method) {
          wrong.push(`${where}: ${match[1]} is no native method`);
          continue;
        }
        const before = line.slice(0, match.index);
        // A statement starts its line, follows ; { or else, or is the body of
        // an if whose condition has closed.
        const statement = /^\s*$|[;{]\s*$|\belse\s*$/.test(before) || /^\s*(\}\s*)?(else\s+)?if\s*\(.*\)\s*$/.test(before);
        if (method.kind === 'G' && statement) wrong.push(`${where}: the value of ${match[1]} must be used`);
        if (method.kind === 'M' && method.types.length > 0 && !statement) wrong.push(`${where}: ${match[1]} must be called as a statement`);
      }
    });
  }
  assert.deepEqual(wrong, []);
  assert.ok(seen > 60, `only ${seen} calls found: the scan is broken`);
});

function languageTable() {
  const sandbox = {};
  vm.runInNewContext(fs.readFileSync(path.join(BUNDLE, 'config', 'lang.js'), 'utf8'), sandbox);
  return sandbox.Config_StubMultiLangs;
}

function bundleFiles(folder, pattern) {
  const found = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const child = path.join(folder, entry.name);
    if (entry.isDirectory()) found.push(...bundleFiles(child, pattern));
    else if (pattern.test(entry.name)) found.push(child);
  }
  return found;
}

test('every offered language has its own name and every text of the English table', () => {
  const langs = languageTable();
  const codes = ['cs', 'de', 'en', 'es', 'fr', 'it', 'jp', 'nl', 'pl', 'ru', 'tw', 'zh', 'tr', 'pt'];
  assert.deepEqual(Object.keys(langs.regions).sort(), [...codes].sort());
  const english = Object.keys(langs.en).sort();
  for (const code of codes) {
    assert.deepEqual(Object.keys(langs[code]).sort(), english, `${code} lacks or adds texts`);
    for (const key of english) {
      assert.ok(langs[code][key].trim() !== '', `${code}.${key} is empty`);
      // A text with fields keeps them: %s and %d in the same number.
      const fields = (text) => (text.match(/%[sd]/g) || []).length;
      assert.equal(fields(langs[code][key]), fields(langs.en[key]), `${code}.${key} has other fields than English`);
    }
  }
});

test('every text key the pages and scripts name exists', () => {
  const langs = languageTable();
  const used = new Set([
    'selectlanguage', 'complete', 'error', 'updateErrorText', 'unknowError', 'fileNotExist', 'diskFull', 'failure',
    'md5Error', 'volumeReadOnly', 'noNetwork', 'cancelled', 'running', 'haveInstalled', 'osRequirements',
    'informationText', 'TYP_URL',
  ]);
  for (const file of bundleFiles(BUNDLE, /\.(html|js)$/)) {
    const text = fs.readFileSync(file, 'utf8');
    for (const m of text.matchAll(/data-(?:text|title)="([^"]+)"/g)) used.add(m[1]);
    for (const m of text.matchAll(/Lang\.(?:text|format)\("([^"]+)"[,)]/g)) used.add(m[1]);
    for (const m of text.matchAll(/(?:title|text): "(billboard\d\w+)"/g)) used.add(m[1]);
  }
  // Component names of the list, and the minimum-system flags the MinSys
  // page names, are text keys too.
  const sandbox = {};
  vm.runInNewContext(fs.readFileSync(path.join(BUNDLE, 'config', 'config.js'), 'utf8'), sandbox);
  vm.runInNewContext(fs.readFileSync(path.join(BUNDLE, 'config', 'installerlist.js'), 'utf8'), sandbox);
  for (const component of sandbox.Components) used.add(component.name);
  for (const flag of sandbox.Config_MinSys) used.add(`minsys${flag}`);
  const missing = [...used].filter((key) => !Object.prototype.hasOwnProperty.call(langs.en, key));
  assert.deepEqual(missing, []);
  assert.ok(used.size > 60, `only ${used.size} keys found: the scan is broken`);
});

test('a bundle outside the checkout lints with its own shared names, run from its folder', () => {
  const { spawnSync } = require('node:child_process');
  const os = require('node:os');
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'team-bundle-'));
  try {
    fs.mkdirSync(path.join(folder, 'js'));
    fs.writeFileSync(path.join(folder, 'Load.html'), '<!DOCTYPE html><html><head><title>x</title>' +
      '<script src="js/names.js"></script></head><body><script>\nTeamSetup.start();\n</script></body></html>\n');
    fs.writeFileSync(path.join(folder, 'js', 'names.js'), 'var TeamSetup = { start: function () { return 1; } };\n');
    const eslint = path.join(REPO, 'node_modules', '.bin', 'eslint');
    const lint = () => spawnSync(eslint, ['-c', CONFIG, '.'], { cwd: folder, encoding: 'utf8' });
    const clean = lint();
    assert.equal(clean.status, 0, clean.stdout + clean.stderr);
    // The same run fails on a name the team's scripts do not define, and on newer syntax.
    fs.writeFileSync(path.join(folder, 'js', 'later.js'), 'OtherSetup.start();\n');
    fs.writeFileSync(path.join(folder, 'js', 'newer.js'), 'let late = 1;\n');
    const dirty = lint();
    assert.equal(dirty.status, 1, dirty.stdout + dirty.stderr);
    assert.match(dirty.stdout, /later\.js\n +1:1 +error +'OtherSetup' is not defined/);
    assert.match(dirty.stdout, /newer\.js\n +1:\d+ +error +Parsing error/);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});
