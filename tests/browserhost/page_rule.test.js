'use strict';
// The browser host's rule for its own pages, as a table: only the bundle's
// pages under this run's secret reach the native side; the browser window
// leaves web addresses to the default browser and loads nothing else.

const assert = require('node:assert/strict');
const { test } = require('node:test');

const { isBundlePage, classifyNavigation } = require('../../tools/uihost/page_rule');

const SECRET = 'ab'.repeat(32);
const ORIGIN = 'http://127.0.0.1:40123';
const OWN = `${ORIGIN}/${SECRET}`;

test('addresses inside and outside the served bundle', () => {
  const cases = [
    [`${OWN}/Load.html`, 'load'],
    [`${OWN}/pages/Welcome/page.html?lang=en#top`, 'load'],
    [`${OWN}/my%20page.html`, 'load'],
    [`${OWN}/pages/./Welcome/page.html`, 'load'], // the URL parser removes "." itself
    [`${OWN}/pages/../Load.html`, 'load'], // and resolves ".." inside the bundle
    [`${OWN}/../Load.html`, 'refuse'], // resolved to /Load.html: outside the secret
    [`${OWN}/%2e%2e/Load.html`, 'refuse'],
    [`${OWN}/%2E%2E%2FLoad.html`, 'refuse'],
    [`${OWN}/pages%2F..%2F..%2Fx.html`, 'refuse'],
    [`${OWN}/a%5c..%5cLoad.html`, 'refuse'],
    [`${OWN}/a%00.html`, 'refuse'],
    [`${OWN}/%252e%252e/x.html`, 'refuse'],
    [`${OWN}/%zz.html`, 'refuse'],
    [`${OWN}/`, 'refuse'],
    [`${OWN}/__uihost__/rpc`, 'refuse'],
    [`${OWN}`, 'refuse'],
    [`${ORIGIN}/Load.html`, 'refuse'],
    [`${ORIGIN}/${'cd'.repeat(32)}/Load.html`, 'refuse'],
    [`HTTP://127.0.0.1:40123/${SECRET}/Load.html`, 'load'], // the scheme's case does not matter
    [`http://user:pw@127.0.0.1:40123/${SECRET}/Load.html`, 'refuse'],
    [`http://localhost:40123/${SECRET}/Load.html`, 'browser'],
    [`http://127.0.0.1:40124/${SECRET}/Load.html`, 'browser'],
    [`https://127.0.0.1:40123/${SECRET}/Load.html`, 'browser'],
    ['https://example.com/help.html', 'browser'],
    ['HTTP://EXAMPLE.COM/', 'browser'],
    ['file:///C:/Temp/1a2b/Load.html', 'refuse'],
    ['file://server/share/Load.html', 'refuse'],
    ['\\\\server\\share\\Load.html', 'refuse'],
    ['javascript:window.external.closeWindow()', 'refuse'],
    ['about:blank', 'refuse'],
    ['data:text/html,<p>x</p>', 'refuse'],
    ['ftp://example.com/x', 'refuse'],
    ['Load.html', 'refuse'],
    ['', 'refuse'],
  ];
  for (const [address, verdict] of cases) {
    assert.equal(classifyNavigation(address, ORIGIN, SECRET), verdict, address);
    assert.equal(isBundlePage(address, ORIGIN, SECRET), verdict === 'load', address);
  }
});

test('no page is the bundle\'s without a well-formed secret', () => {
  for (const secret of ['', 'AB'.repeat(32), 'ab'.repeat(31), undefined, null]) {
    assert.equal(isBundlePage(`${ORIGIN}/${secret}/Load.html`, ORIGIN, secret), false, String(secret));
  }
  assert.equal(isBundlePage(undefined, ORIGIN, SECRET), false);
});
