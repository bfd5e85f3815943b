'use strict';
// Who can reach window.external in the browser host: only requests that carry
// this run's secret and name 127.0.0.1 as their host, only files inside the
// extracted folder, and only the stub that presents the secret; the secret
// goes no further than the stub.

const assert = require('node:assert/strict');
const http = require('node:http');
const net = require('node:net');
const { after, before, test } = require('node:test');

const { MAX_FRAME_BYTES } = require('../../tools/uihost/frames');
const { startTestRun, waitFor } = require('./support');

let run;
before(async () => {
  run = await startTestRun();
});
after(async () => {
  if (run) await run.close();
});

function request(rawPath, { method = 'GET', headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request(
      { host: '127.0.0.1', port: run.httpPort, path: rawPath, method, headers, setHost: !('Host' in headers) },
      (res) => {
        const chunks = [];
        res.on('data', (chunk) => chunks.push(chunk));
        res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks).toString('utf8') }));
      },
    );
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

const rpc = (message, headers = {}) =>
  request(`/${run.secret}/__uihost__/rpc`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', ...headers },
    body: JSON.stringify(message),
  });

test('pages are served only under the secret and to the host name 127.0.0.1', async () => {
  assert.equal((await request(`/${run.secret}/Load.html`)).status, 200);
  assert.equal((await request('/Load.html')).status, 404);
  const wrong = run.secret.replace(/^./, (c) => (c === '0' ? '1' : '0'));
  assert.equal((await request(`/${wrong}/Load.html`)).status, 404);
  assert.equal((await request(`/${run.secret}Load.html`)).status, 404);
  // A page of another site that resolves its name to 127.0.0.1 sends its own Host.
  for (const host of ['localhost', `localhost:${run.httpPort}`, 'attacker.example', `127.0.0.1:${run.httpPort + 1}`]) {
    assert.equal((await request(`/${run.secret}/Load.html`, { headers: { Host: host } })).status, 421, host);
  }
});

test('nothing outside the extracted folder is served', async () => {
  for (const escape of [
    '../Load.html',
    '..%2F..%2F..%2F..%2F..%2F..%2Fsystem.reg',
    '%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/system.reg',
    '..%5C..%5C..%5C..%5C..%5C..%5Csystem.reg',
    'style/../../Tessary_log',
    '%2Fetc%2Fpasswd',
    'Z:%5Cetc%5Cpasswd',
  ]) {
    assert.equal((await request(`/${run.secret}/${escape}`)).status, 404, escape);
  }
  assert.equal((await request(`/${run.secret}/style/page.css`)).status, 200);
});

test('window.external answers only its own pages', async () => {
  // A page of another origin cannot post JSON without the secret, and a
  // simple cross-origin form post is refused for its type.
  assert.equal((await request(`/${run.secret}/__uihost__/rpc`)).status, 405);
  const call = { type: 'call', name: 'getProperty', args: [{ t: 's', v: 'firstScript' }] };
  assert.equal((await rpc(call, { Origin: 'http://attacker.example' })).status, 403);
  assert.equal((await rpc(call, { 'Content-Type': 'text/plain' })).status, 415);
  assert.equal((await rpc({ type: 'shutdown' })).status, 400);
  const anyPath = await request(`/${run.secret}/x/../__uihost__/rpc`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(call),
  });
  // Only the one path is the endpoint; anywhere else a POST is refused.
  assert.equal(anyPath.status, 405);
  // The same request, rightly addressed, is served: the checks above are what refused.
  const served = await rpc(call, { Origin: run.origin });
  assert.equal(served.status, 200);
  assert.deepEqual(JSON.parse(served.body).value, { t: 's', v: 'ran before the body' });
});

test('programs the stub starts do not inherit the harness\'s secret', async () => {
  assert.equal(await run.page.evaluate(() => window.external.childSeesToken()), false);
});

test('a request body larger than a message is refused whole, and the page is served after it', async () => {
  const call = { type: 'call', name: 'setProperty', args: [{ t: 's', v: 'flood' }, { t: 's', v: 'x'.repeat(MAX_FRAME_BYTES) }] };
  assert.equal((await rpc(call)).status, 413);
  assert.equal(await run.page.evaluate(() => window.external.getProperty('flood')), '');
  assert.equal(await run.page.evaluate(() => window.external.getProperty('firstScript')), 'ran before the body');
});

test('once the stub has connected, no other process can take its place', async () => {
  const outcome = await new Promise((resolve) => {
    const socket = net.connect(run.stubPort, '127.0.0.1');
    socket.on('connect', () => {
      socket.on('close', () => resolve('closed'));
      socket.write(Buffer.from([0, 0, 0, 0]));
    });
    socket.on('error', (error) => resolve(error.code));
  });
  assert.ok(['ECONNREFUSED', 'ECONNRESET', 'closed'].includes(outcome), outcome);
  // The page still works.
  assert.equal(await run.page.evaluate(() => window.external.getProperty('firstScript')), 'ran before the body');
});

test('the window shows only the bundle\'s pages: other places are not loaded, web addresses go to the default browser', async () => {
  // A local server stands in for the web and records whether anyone came.
  const visits = [];
  const web = http.createServer((req, res) => {
    visits.push(req.url);
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end('<title>not ours</title><script>window.external.closeWindow()</script>');
  });
  await new Promise((resolve) => web.listen(0, '127.0.0.1', resolve));
  const webAddress = `http://127.0.0.1:${web.address().port}/help.html`;
  const seen = [];
  const onNavigation = (event) => seen.push(event);
  const external = [];
  const onExternal = (address) => external.push(address);
  run.on('navigation', onNavigation);
  run.on('external', onExternal);
  try {
    const own = run.page.url();
    const titles = run.windowOps.length;
    for (const [address, verdict] of [
      [webAddress, 'browser'],
      [`${run.origin}/Load.html`, 'refuse'],
      [`${run.origin}/${run.secret}/__uihost__/rpc`, 'refuse'],
    ]) {
      // Left to the page's next task, so that this evaluation returns first.
      await run.page.evaluate((a) => setTimeout(() => { location.href = a; }, 0), address);
      await waitFor(() => seen.some((event) => event.url === address), `the navigation to ${address}`);
      assert.equal(seen.find((event) => event.url === address).verdict, verdict, address);
    }
    // (A file: address from a page of http: is refused by Chromium itself,
    // before any request; the rule's own table covers it.)
    assert.deepEqual(external, [webAddress]);
    assert.deepEqual(visits, [], 'the web page was never fetched');
    assert.equal(run.page.url(), own, 'the bundle page stays');
    assert.equal(await run.page.evaluate(() => window.external.getProperty('firstScript')), 'ran before the body');
    assert.equal(run.windowOps.length, titles, 'no window operation came of it');
    // A request naming a document outside the bundle as its sender is refused.
    const call = { type: 'call', name: 'getProperty', args: [{ t: 's', v: 'firstScript' }] };
    assert.equal((await rpc(call, { Referer: webAddress })).status, 403);
    assert.equal((await rpc(call, { Referer: `${run.origin}/Load.html` })).status, 403);
    assert.equal((await rpc(call, { Referer: own })).status, 200);
    // Between the bundle's own pages the window goes on as before.
    await run.page.evaluate(() => setTimeout(() => { location.href = 'Second.html'; }, 0));
    await waitFor(() => run.page.url().endsWith('/Second.html'), 'the second page');
    assert.ok(!seen.some((event) => event.url.endsWith('/Second.html')));
  } finally {
    run.off('navigation', onNavigation);
    run.off('external', onExternal);
    web.close();
  }
});
