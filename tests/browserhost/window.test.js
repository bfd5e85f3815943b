'use strict';
// The window and dialog side through the host seam: the size rule reaches the
// page's view, message boxes are answered on the page's side, and closing the
// window ends the stub through its quit flag and its closing steps.

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const { test } = require('node:test');

const { startTestRun, waitFor, expectedExitCode, keptLogWith } = require('./support');

const viewport = (run) => run.page.evaluate(() => [window.innerWidth, window.innerHeight]);
const resizes = (run) => run.windowOps.filter((op) => op.op === 'resize').map((op) => [op.width, op.height]);

test('the default size, then setWindowSize, size the page view; the same size twice moves it once', async (t) => {
  const run = await startTestRun();
  t.after(() => run.close());
  // The start page sets no size: the host applies 400 x 200 once it has loaded.
  await waitFor(() => resizes(run).length > 0, 'the default size');
  assert.deepEqual(resizes(run), [[400, 200]]);
  await waitFor(async () => (await viewport(run)).join() === '400,200', 'a 400 x 200 view');

  await run.page.evaluate(() => window.external.setWindowSize(600, 400));
  await waitFor(async () => (await viewport(run)).join() === '600,400', 'a 600 x 400 view');
  await run.page.evaluate(() => window.external.setWindowSize(600, 400));
  await run.page.evaluate(() => window.external.getProperty('flush'));
  assert.deepEqual(resizes(run), [[400, 200], [600, 400]]);
  // A later completed load finds the client area sized and leaves it.
  await run.page.reload({ waitUntil: 'load' });
  await run.page.evaluate(() => window.external.getProperty('flush'));
  assert.deepEqual(resizes(run), [[400, 200], [600, 400]]);
});

test('the other window operations, boxes with other buttons, and the folder picker reach the page side', async (t) => {
  const folders = ['C:\\Program Files\\Tessary', null];
  const run = await startTestRun({ answers: [true, false], onFolder: async () => folders.shift() });
  t.after(() => run.close());
  const op = (name, text = '') =>
    run.page.evaluate(([n, x]) => window.external.uiHostOperation(n, x), [name, text]);

  for (const name of ['minimize', 'hide', 'show', 'drag']) assert.equal(await op(name), '');
  assert.equal(await op('caption', 'Tessary – Setup ü'), 'Tessary – Setup ü');
  const others = run.windowOps.filter((o) => o.op !== 'resize');
  assert.deepEqual(others, [
    { op: 'minimize' },
    { op: 'hide' },
    { op: 'show' },
    { op: 'drag' },
    { op: 'caption', text: 'Tessary – Setup ü' },
  ]);

  // IDOK when accepted, IDCANCEL when declined.
  assert.equal(await op('okCancel', 'Go on?'), '1');
  assert.equal(await op('okCancel', 'Go on?'), '2');
  assert.deepEqual(run.boxes.map((b) => [b.text, b.caption, b.style]), [
    ['Go on?', 'Question', 1],
    ['Go on?', 'Question', 1],
  ]);
  // The chosen folder; cancelled, the initial text unchanged.
  assert.equal(await op('folder', 'C:\\start'), 'C:\\Program Files\\Tessary');
  assert.equal(await op('folder', 'C:\\start'), 'C:\\start');
});

test('messageBoxExit answered No keeps the window; answered Yes closes it and the stub ends', async (t) => {
  const run = await startTestRun({ answers: [false, true] });
  t.after(() => run.close());
  const marker = crypto.randomBytes(8).toString('hex');
  const expected = await expectedExitCode();

  await run.page.evaluate((m) => {
    window.external.setProperty('runMarker', m);
    window.external.messageBoxExit('Quit the setup?', 'Tessary Setup');
  }, marker);
  assert.equal(run.boxes.length, 1);
  assert.deepEqual(
    { text: run.boxes[0].text, caption: run.boxes[0].caption, style: run.boxes[0].style },
    // MB_ICONQUESTION | MB_YESNO
    { text: 'Quit the setup?', caption: 'Tessary Setup', style: 0x24 },
  );
  // Still running and still serving the page.
  await new Promise((resolve) => setTimeout(resolve, 300));
  assert.equal(run.process.exitCode, null);
  assert.equal(await run.page.evaluate(() => window.external.getProperty('runMarker')), marker);

  // The page's own dialogs show nothing, as in the product's host.
  const own = await run.page.evaluate(() => [window.alert('x'), window.confirm('y'), window.prompt('z')]);
  assert.deepEqual(own, [undefined, false, null]);
  assert.equal(run.boxes.length, 1);

  // The browser closes with the window, perhaps before this call's answer is back.
  const closing = run.page.evaluate(() => window.external.messageBoxExit('Quit the setup?', 'Tessary Setup'));
  closing.catch(() => {});
  const { code } = await run.exited;
  assert.equal(code, expected);
  const log = keptLogWith(run.root, marker);
  assert.ok(log, 'the kept log of this run');
  assert.equal(log.split('EMMessageBoxExit: Quit the setup? Tessary Setup').length - 1, 2);
  assert.match(log, /ZSClose/);
});

test('closeWindow ends the stub through its closing steps', async (t) => {
  const run = await startTestRun();
  t.after(() => run.close());
  const marker = crypto.randomBytes(8).toString('hex');
  const expected = await expectedExitCode();
  const extracted = run.root;
  assert.ok(fs.existsSync(extracted));

  await run.page.evaluate((m) => window.external.setProperty('runMarker', m), marker);
  const closing = run.page.evaluate(() => {
    window.external.closeWindow();
    // A second request has no further effect.
    window.external.closeWindow();
  });
  closing.catch(() => {});
  const { code } = await run.exited;
  assert.equal(code, expected);
  const log = keptLogWith(extracted, marker);
  assert.ok(log, 'the kept log of this run');
  assert.match(log, /UI host: browser host on port \d+/);
  assert.equal(log.split('ZSClose').length - 1, 2);
  // The closing steps deleted the extracted bundle.
  assert.equal(fs.existsSync(extracted), false);
});

test('messageBoxCancel, confirmMessageBox and messageBoxError answer through the page side as through a window', async (t) => {
  const run = await startTestRun({ answers: [true, false, false] });
  t.after(() => run.close());
  const marker = crypto.randomBytes(8).toString('hex');
  const expected = await expectedExitCode();

  const answers = await run.page.evaluate((m) => {
    window.external.setProperty('runMarker', m);
    window.external.messageBoxCancel('Cancel the setup?', 'Tessary Setup');
    return [window.external.getProperty('CancelYes'), window.external.confirmMessageBox('Go on?', 'Tessary Setup')];
  }, marker);
  // Yes records the answer and keeps the window; Cancel (declined) is false.
  assert.deepEqual(answers, ['true', false]);
  assert.deepEqual(run.boxes.map((b) => b.style), [0x24, 0x1]);
  assert.equal(run.process.exitCode, null);

  // Declined or not, the error box ends the run.
  const closing = run.page.evaluate(() => window.external.messageBoxError('The setup failed', 'Tessary Setup'));
  closing.catch(() => {});
  const { code } = await run.exited;
  assert.equal(code, expected);
  assert.equal(run.boxes[2].style, 0x30);  // MB_ICONWARNING
  const log = keptLogWith(run.root, marker);
  assert.ok(log, 'the kept log of this run');
  assert.match(log, /EMSetProperty CancelYes, true/);
  assert.match(log, /EMConfirmMessageBox Result : Cancel Close/);
  assert.match(log, /EMMessageBoxError: The setup failed Tessary Setup/);
});
