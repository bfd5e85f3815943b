'use strict';
// The pages run in the system's HTML document object in IE11 mode: ES5
// syntax only, and none of the newer library functions IE11 lacks. The
// names the bundle's scripts share (top-level var and function
// declarations) are read from the scripts themselves, so a name that no
// script defines is still an error.

const fs = require('node:fs');
const path = require('node:path');
const globals = require('globals');
const html = require('eslint-plugin-html');

// The bundle whose shared names count: STUB_LINT_BUNDLE, else the folder the
// lint runs in when it is a bundle (Load.html at its top: a team's bundle
// outside this checkout), else this checkout's.
function bundleFolder() {
  if (process.env.STUB_LINT_BUNDLE) return path.resolve(process.env.STUB_LINT_BUNDLE);
  if (fs.existsSync(path.join(process.cwd(), 'Load.html'))) return process.cwd();
  return path.resolve(__dirname, '..', '..', 'bundle');
}
const BUNDLE = bundleFolder();

function scripts(folder) {
  const found = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const child = path.join(folder, entry.name);
    if (entry.isDirectory()) found.push(...scripts(child));
    else if (entry.name.endsWith('.js')) found.push(child);
  }
  return found;
}

function sharedNames() {
  const names = {};
  for (const file of scripts(BUNDLE)) {
    const text = fs.readFileSync(file, 'utf8');
    for (const match of text.matchAll(/^(?:var|function)\s+([A-Za-z_$][\w$]*)/gm)) names[match[1]] = 'writable';
  }
  return names;
}

const browser = { ...globals.browser };
// The bundle's own Navigator replaces the browser's interface object.
delete browser.Navigator;

const missingInIE11 = ['Promise', 'fetch', 'Symbol', 'Proxy', 'Reflect', 'URLSearchParams', 'globalThis', 'queueMicrotask'];
// jQuery's own find() is allowed; Array's is not used.
const missingMethods = ['includes', 'startsWith', 'endsWith', 'repeat', 'padStart', 'padEnd', 'findIndex', 'flat', 'flatMap', 'trimStart', 'trimEnd'];
const missingStatics = [
  ['Array', 'from'],
  ['Array', 'of'],
  ['Object', 'assign'],
  ['Object', 'entries'],
  ['Object', 'values'],
  ['Number', 'isInteger'],
  ['Number', 'isNaN'],
  ['Number', 'isFinite'],
  ['Math', 'trunc'],
  ['Math', 'sign'],
];

module.exports = [
  {
    files: ['**/*.js', '**/*.html', '**/*.htm'],
    plugins: { html },
    languageOptions: {
      ecmaVersion: 5,
      sourceType: 'script',
      globals: { ...browser, $: 'readonly', jQuery: 'readonly', ...sharedNames() },
    },
    linterOptions: { noInlineConfig: true, reportUnusedDisableDirectives: 'error' },
    rules: {
      'no-undef': 'error',
      'no-unused-vars': ['error', { vars: 'local', args: 'none' }],
      'no-dupe-keys': 'error',
      'no-unreachable': 'error',
      'no-redeclare': ['error', { builtinGlobals: false }],
      'no-restricted-globals': ['error', ...missingInIE11.map((name) => ({ name, message: `IE11 has no ${name}.` }))],
      'no-restricted-properties': [
        'error',
        ...missingMethods.map((property) => ({ property, message: `IE11 has no .${property}().` })),
        ...missingStatics.map(([object, property]) => ({ object, property, message: `IE11 has no ${object}.${property}.` })),
      ],
      eqeqeq: 'error',
      curly: ['error', 'multi-line'],
    },
  },
];
