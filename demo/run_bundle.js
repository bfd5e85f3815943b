#!/usr/bin/env node
'use strict';
// Runs any bundle folder in the browser UI host against the built development
// stub, for bundle authors (scripts/demo.sh --bundle DIR starts it):
//
//   run_bundle.js --env BUILD/demo/demo.env --bundle DIR --out WORKDIR [--headless|--headed] [-- stub arguments]
//
// The folder is staged as the build stages the product's bundle (jQuery
// added, SVG images rendered), packed into a copy of the development stub and
// run under Wine. While it runs, a change to a file of the folder stages it
// again, puts it where the stub extracted its bundle and reloads the page.
// Ends when the stub ends (Ctrl-C closes it).

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { startUiHost } = require('../tools/uihost/harness');
const { readEnv, packStub } = require('./stub_pack');

const REPO = path.resolve(__dirname, '..');
const RELOAD_DELAY_MS = 300;

function parseArguments(argv) {
  const options = { headless: !process.env.DISPLAY, stubArgs: [] };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--') {
      options.stubArgs = argv.slice(i + 1);
      break;
    }
    if (argv[i] === '--headless') options.headless = true;
    else if (argv[i] === '--headed') options.headless = false;
    else if (['--env', '--bundle', '--out'].includes(argv[i])) options[argv[i].slice(2)] = argv[++i];
    else throw new Error(`run_bundle: unknown argument ${argv[i]}`);
  }
  if (!options.env || !options.bundle || !options.out) {
    throw new Error('usage: run_bundle.js --env demo.env --bundle DIR --out WORKDIR [--headless|--headed] [-- args]');
  }
  return options;
}

function stage(source, output) {
  execFileSync('node', [path.join(REPO, 'scripts', 'stage_bundle.js'), '--source', source, '--output', output,
    '--modules', path.join(REPO, 'node_modules')], { stdio: ['ignore', 'ignore', 'inherit'] });
  return output;
}

// Restages the folder into the running stub's extracted bundle and reloads.
function watchAndReload(source, staged, run) {
  let timer = null;
  let busy = false;
  const reload = async () => {
    if (busy || !run.root) return;
    busy = true;
    try {
      stage(source, staged);
      fs.cpSync(staged, run.root, { recursive: true, force: true });
      await run.page.reload();
      process.stdout.write('bundle: reloaded after a change\n');
    } catch (error) {
      process.stdout.write(`bundle: not reloaded: ${error.message}\n`);
    } finally {
      busy = false;
    }
  };
  const watcher = fs.watch(source, { recursive: true }, () => {
    clearTimeout(timer);
    timer = setTimeout(reload, RELOAD_DELAY_MS);
  });
  return () => {
    clearTimeout(timer);
    watcher.close();
  };
}

async function main(argv) {
  const options = parseArguments(argv);
  const env = readEnv(options.env);
  const source = path.resolve(options.bundle);
  if (!fs.existsSync(path.join(source, 'Load.html'))) throw new Error(`${source} has no Load.html (the start page)`);
  const out = path.resolve(options.out);
  fs.rmSync(out, { recursive: true, force: true });
  const staged = stage(source, path.join(out, 'staged'));
  const exe = packStub({ image: env.dev_stub_image, bundle: staged, output: path.join(out, 'TessarySetupDev.exe'),
    cert: env.signing_cert, key: env.signing_key });
  process.stdout.write(`bundle: ${source} in ${exe} (${options.headless ? 'headless' : 'a Chromium window'}); edits reload the page\n`);

  const run = await startUiHost({ exe, args: ['run=1', ...options.stubArgs], headless: options.headless,
    winePrefix: env.wineprefix });
  run.on('window', (op) => process.stdout.write(`window: ${JSON.stringify(op)}\n`));
  run.on('pageerror', (error) => process.stdout.write(`page error: ${error.message}\n`));
  const stop = () => run.close();
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  let unwatch = () => {};
  const showTitle = () => run.page.title().then((title) => process.stdout.write(`page: ${title}\n`), () => {});
  run.ready.then(
    () => {
      run.page.on('load', showTitle);
      showTitle();
      unwatch = watchAndReload(source, staged, run);
    },
    (error) => process.stderr.write(`bundle: ${error.message}\n${run.output}`),
  );
  const { code } = await run.exited;
  unwatch();
  process.stdout.write(`exit code (low 8 bits): ${code}\n`);
  return code === null ? 1 : 0;
}

main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    process.stderr.write(`bundle: ${error.stack || error}\n`);
    process.exit(1);
  },
);
