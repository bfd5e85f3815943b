'use strict';
// Navigator: the sequence, the "pages/" or "../" prefix, and closing the
// application wherever the sequence has no page to go to.

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

// Runs `action` on a probe page titled `title` with `sequence` as
// Config_SequencePages; answers where it went and how often it closed.
async function navigate(title, sequence, action) {
  const start = title === 'Load' ? 'Probe.html' : 'pages/Probe/page.html';
  const run = await openPage(browser, server.origin, start, { stopAt: '**/*.html' });
  try {
    await run.page.evaluate(
      ([t, s, a]) => {
        document.title = t;
        Config_SequencePages = s;
        // eslint-disable-next-line no-eval
        eval(a);
      },
      [title, sequence, action],
    );
    await new Promise((resolve) => setTimeout(resolve, 100));
    const state = await run.state();
    return { went: run.stopped.slice(), closed: state.closed };
  } finally {
    await run.close();
  }
}

const SHIPPED = ['Initialization', 'MinSys', 'Downloading', 'Installing'];

const cases = [
  // [what, current title, sequence, call, expected page or null for close]
  ['next from the first page', 'Initialization', SHIPPED, 'Navigator.nextPage()', '/pages/MinSys/page.html'],
  ['next from the middle', 'Downloading', SHIPPED, 'Navigator.nextPage()', '/pages/Installing/page.html'],
  ['next from the last page closes', 'Installing', SHIPPED, 'Navigator.nextPage()', null],
  ['next from a page outside the sequence closes', 'Finish', SHIPPED, 'Navigator.nextPage()', null],
  ['previous goes back one', 'Downloading', SHIPPED, 'Navigator.previousPage()', '/pages/MinSys/page.html'],
  ['previous from the first page closes', 'Initialization', SHIPPED, 'Navigator.previousPage()', null],
  ['previous from a page outside the sequence closes', 'Error', SHIPPED, 'Navigator.previousPage()', null],
  ['firstPage from Load', 'Load', SHIPPED, 'Navigator.firstPage()', '/pages/Initialization/page.html'],
  ['firstPage from another page closes', 'Downloading', SHIPPED, 'Navigator.firstPage()', null],
  ['firstPage with an empty sequence closes', 'Load', [], 'Navigator.firstPage()', null],
  ['goSpecifiedPage from Load uses "pages/"', 'Load', SHIPPED, 'Navigator.goSpecifiedPage("Installing")', '/pages/Installing/page.html'],
  ['goSpecifiedPage from a page uses "../"', 'MinSys', SHIPPED, 'Navigator.goSpecifiedPage("Installing")', '/pages/Installing/page.html'],
  ['goSpecifiedPage of a page not in the sequence closes', 'Load', SHIPPED, 'Navigator.goSpecifiedPage("Welcome")', null],
  ['goSpecifiedPage of a name in another case closes', 'Load', SHIPPED, 'Navigator.goSpecifiedPage("downloading")', null],
  ['a custom sequence is followed', 'Welcome', ['Initialization', 'Welcome', 'Agreement'], 'Navigator.nextPage()', '/pages/Agreement/page.html'],
];

for (const [what, title, sequence, call, expected] of cases) {
  test(`Navigator: ${what}`, async () => {
    const result = await navigate(title, sequence, call);
    if (expected === null) {
      assert.deepEqual(result, { went: [], closed: 1 });
    } else {
      assert.deepEqual(result, { went: [expected], closed: 0 });
    }
  });
}

test('Navigator: the error page gets its text and report code first', async () => {
  const run = await openPage(browser, server.origin, 'pages/Probe/page.html', { stopAt: '**/*.html' });
  try {
    await run.page.evaluate(() => Navigator.showError(Config_ErrorHandle.NoNetwork));
    await waitFor(() => run.stopped.length === 1, 'the error page');
    assert.deepEqual(run.stopped, ['/pages/Error/page.html']);
    const props = (await run.state()).native.props;
    assert.equal(props.IM_ErrorCode, '30107');
    assert.equal(props.errorMessage, 'No Internet connection. Connect to the Internet and try again.');
  } finally {
    await run.close();
  }
});
