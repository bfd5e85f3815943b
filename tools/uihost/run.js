#!/usr/bin/env node
'use strict';
// Runs a stub executable in the browser UI host by hand:
//
//   node tools/uihost/run.js [--headless|--headed] [--verbose] STUB.exe [stub arguments...]
//
// The stub runs under Wine in the project's prefix (STUB_WINEPREFIX, else
// build/wineprefix) with "uihost=127.0.0.1:PORT" added to its arguments; its
// bundle's pages open in Debian's Chromium, headed when a display exists.
// Message boxes appear as the browser's dialogs (headless: declined). Prints
// the window operations and the exit code; ends when the stub ends.

const path = require('node:path');
const { startUiHost } = require('./harness');

async function main(argv) {
  let headless = !process.env.DISPLAY;
  let verbose = false;
  const rest = [];
  for (const arg of argv) {
    if (arg === '--headless') headless = true;
    else if (arg === '--headed') headless = false;
    else if (arg === '--verbose') verbose = true;
    else rest.push(arg);
  }
  if (rest.length === 0) {
    process.stderr.write('usage: run.js [--headless|--headed] [--verbose] STUB.exe [stub arguments...]\n');
    return 2;
  }
  const [exe, ...args] = rest;
  const run = await startUiHost({ exe: path.resolve(exe), args, headless, verbose });
  run.on('window', (op) => process.stdout.write(`window: ${JSON.stringify(op)}\n`));
  run.ready.then(
    () => process.stdout.write(`page: ${run.startUrl.replace(run.secret, '<secret>')}\n`),
    (error) => process.stderr.write(`uihost: ${error.message}\n`),
  );
  const stop = () => run.close();
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  const { code } = await run.exited;
  process.stdout.write(`exit code (low 8 bits): ${code}\n`);
  return code === null ? 1 : 0;
}

main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    process.stderr.write(`uihost: ${error.stack || error}\n`);
    process.exit(1);
  },
);
