'use strict';
// The real pages of the test bundle against the real native side: the stub
// extracted the bundle, Chromium runs its pages, and every use of
// window.external goes through the bridge and the method table under Wine.

const assert = require('node:assert/strict');
const { after, before, test } = require('node:test');

const { FRAME_TOO_LARGE, MAX_FRAME_BYTES } = require('../../tools/uihost/frames');
const { startTestRun, waitFor } = require('./support');

let run;
before(async () => {
  run = await startTestRun();
});
after(async () => {
  if (run) await run.close();
});

const inPage = (fn, arg) => run.page.evaluate(fn, arg);

test('the first page script reaches window.external before anything else runs', async () => {
  assert.equal(await inPage(() => document.getElementById('status').textContent), 'ran before the body');
  assert.equal(await inPage(() => window.external.getProperty('firstScript')), 'ran before the body');
});

test('setProperty and getProperty keep text exactly, and unknown names read empty', async () => {
  const values = ['plain', '', 'Grüße, 東京 😀', 'quotes " and \\ and \n new line'];
  const back = await inPage((list) => {
    list.forEach((value, i) => window.external.setProperty(`p${i}`, value));
    return list.map((_, i) => window.external.getProperty(`p${i}`));
  }, values);
  assert.deepEqual(back, values);
  assert.equal(await inPage(() => window.external.getProperty('neverSet')), '');
  // The progress counters that attaching the table set are in the same store.
  assert.equal(await inPage(() => window.external.getProperty('installTotal')), '1');
});

test('any script string crosses intact; a lone surrogate in a member name is replaced, and the run goes on', async () => {
  const result = await inPage(() => {
    const ext = window.external;
    const values = ['\ud800', 'a\udc00b', '\ude00\ud83d', 'pair \ud83d\ude00 and lone \ud83d'];
    values.forEach((value, i) => ext.setProperty(`lone${i}`, value));
    const back = values.map((_, i) => ext.getProperty(`lone${i}`));
    // Through a native window caption and back: text the native side made.
    const caption = ext.uiHostOperation('caption', 'title \udbff');
    ext['name\ud800'] = 'kept';
    return { same: back.map((value, i) => value === values[i]), caption, named: ext['name\ufffd'], after: ext.getProperty('lone0') };
  });
  assert.deepEqual(result.same, [true, true, true, true]);
  assert.equal(result.caption, 'title \udbff');
  assert.equal(result.named, 'kept');
  assert.equal(result.after, '\ud800');
});

test('a call or a returned value too large for a message fails in script, and the run goes on', async () => {
  const outcome = await inPage(({ max }) => {
    const ext = window.external;
    const codes = [];
    const attempt = (call) => {
      try {
        call();
        codes.push('no exception');
      } catch (error) {
        codes.push(error.number >>> 0);
      }
    };
    attempt(() => ext.setProperty('big', 'x'.repeat(max)));
    ext.huge = function () {
      return 'y'.repeat(max);
    };
    attempt(() => ext.huge());
    // Just within the limit, both ways.
    const fits = 'z'.repeat(max - 1024);
    ext.setProperty('fits', fits);
    return { codes, big: ext.getProperty('big'), fits: ext.getProperty('fits') === fits };
  }, { max: MAX_FRAME_BYTES });
  // The harness refuses the first; the page function's caller sees it throw.
  assert.deepEqual(outcome.codes, [FRAME_TOO_LARGE, 0x80020009]);
  assert.equal(outcome.big, '');
  assert.equal(outcome.fits, true);
});

test('expando properties round-trip, can be deleted, and call the function they hold', async () => {
  const result = await inPage(() => {
    const ext = window.external;
    ext.answer = 5;
    ext.label = 'five';
    ext.flag = true;
    const read = [ext.answer, ext.label, ext.flag, typeof ext.answer, 'answer' in ext];
    delete ext.answer;
    const afterDelete = [ext.answer, 'answer' in ext];
    ext.answer = 6;
    const seen = [];
    ext.onEvent = function (a, b) {
      seen.push([a, b]);
      return a * b;
    };
    const product = ext.onEvent(6, 7);
    return { read, afterDelete, revived: ext.answer, seen, product };
  });
  assert.deepEqual(result.read, [5, 'five', true, 'number', true]);
  assert.deepEqual(result.afterDelete, [undefined, false]);
  assert.equal(result.revived, 6);
  assert.deepEqual(result.seen, [[6, 7]]);
  assert.equal(result.product, 42);
});

test('a wrong argument surfaces in script as an exception carrying the HRESULT', async () => {
  const errors = await inPage(() => {
    const codes = [];
    const attempt = (call) => {
      try {
        call();
        codes.push('no exception');
      } catch (error) {
        codes.push(error instanceof TypeError ? 'TypeError' : error.number >>> 0);
      }
    };
    attempt(() => window.external.setProperty('a', 1)); // an integer where text belongs
    attempt(() => window.external.setProperty('a')); // one argument short
    attempt(() => window.external.setWindowSize(100.5, 200)); // a fraction is not an integer
    attempt(() => window.external.noSuchMethod()); // not a member: script sees a missing method
    return codes;
  });
  assert.deepEqual(errors, [0x80020005, 0x8002000e, 0x80020005, 'TypeError']);
  // Nothing was stored by the refused call.
  assert.equal(await inPage(() => window.external.getProperty('a')), '');
});

test('a worker calls back in order with (result, total, current), each call returning only after the page function has', async () => {
  await inPage(() => {
    window.ticks = [];
    window.external.startTicker(5, function (result, total, current) {
      // The worker marks a call as returned right after it returns. Long
      // enough for a worker that did not wait to have run ahead, this call
      // must still see only the previous one marked.
      const start = Date.now();
      while (Date.now() - start < 30) {
        // busy
      }
      const returned = Number(window.external.getProperty('tickerReturned'));
      window.ticks.push([result, total, current, returned]);
    });
  });
  const ticks = await waitFor(
    () => inPage(() => (window.ticks.length === 6 ? window.ticks : null)),
    'six callbacks',
  );
  assert.deepEqual(ticks, [
    [10, 5, 1, 0],
    [10, 5, 2, 1],
    [10, 5, 3, 2],
    [10, 5, 4, 3],
    [10, 5, 5, 4],
    [0, 5, 5, 5],
  ]);
});

test('callbacks that come while the page is busy calling wait for the end of its task, and none is lost', async () => {
  const seenInTask = await inPage(() => {
    window.busyTicks = [];
    window.external.startTicker(4, (result, total, current) => window.busyTicks.push([result, total, current]));
    // The worker calls back meanwhile; as in the product's host, script runs
    // to the end of its task before a callback can run.
    for (let i = 0; i < 150; i += 1) window.external.setProperty('busy', String(i));
    return window.busyTicks.length;
  });
  assert.equal(seenInTask, 0);
  const ticks = await waitFor(
    () => inPage(() => (window.busyTicks.length === 5 ? window.busyTicks : null)),
    'five callbacks',
  );
  assert.deepEqual(ticks, [[10, 4, 1], [10, 4, 2], [10, 4, 3], [10, 4, 4], [0, 4, 4]]);
  assert.equal(await inPage(() => window.external.getProperty('busy')), '149');
});

test('the second page reaches the same store through its own window.external', async () => {
  await inPage(() => window.external.setProperty('fromFirstPage', 'carried over'));
  await Promise.all([run.page.waitForURL(/Second\.html$/), run.page.click('#next')]);
  await run.page.waitForLoadState('load');
  assert.equal(await inPage(() => document.getElementById('status').textContent), 'carried over');
  // Its stylesheet came from the extracted folder too.
  assert.equal(await inPage(() => getComputedStyle(document.body).marginTop), '0px');
});
