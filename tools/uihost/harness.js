'use strict';
// The browser UI host harness. It starts the stub under Wine with the argument
// "uihost=127.0.0.1:PORT", takes the stub's connection (which must present the
// per-run secret), serves the folder the stub extracted its bundle into over
// HTTP on 127.0.0.1, and opens the start page in Debian's Chromium through
// playwright-core. The page's window.external (page_shim.js) reaches the stub
// through this process; window operations and message boxes of the stub reach
// the browser and the page from here.
//
// Every HTTP request must carry the secret as the first segment of its path
// and name 127.0.0.1 with this server's port as its Host: no other local
// process or web page can reach window.external, which writes the registry and
// starts programs. The browser window shows the bundle's pages only: a
// navigation of a top frame anywhere else is cancelled (a web address is
// reported as an 'external' event, the default browser's job), and nothing of
// a page outside the bundle reaches the stub.

const { spawn, execFile } = require('node:child_process');
const crypto = require('node:crypto');
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');

const { encodeFrame, FrameReader, MAX_FRAME_BYTES, MAX_HELLO_FRAME_BYTES, FRAME_TOO_LARGE } = require('./frames');
const { installUiHostShim } = require('./page_shim');
const { resolveStatic, contentType } = require('./static_files');
const { isBundlePage, classifyNavigation } = require('./page_rule');

const REPO = path.resolve(__dirname, '..', '..');
const WINE_RUN = path.join(REPO, 'scripts', 'wine-run.sh');
const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_FLAGS = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-background-networking',
  '--disable-component-update',
  '--no-first-run',
];
const RPC_PATH = '__uihost__/rpc';
const HELLO_TIMEOUT_MS = 90000;
// Connections that have not said hello yet; more are closed at once.
const MAX_PENDING_CONNECTIONS = 8;

function defaultWinePrefix() {
  return process.env.STUB_WINEPREFIX || path.join(REPO, 'build', 'wineprefix');
}

// The Unix path of a Windows path in the prefix.
function winePath(prefix, windowsPath) {
  return new Promise((resolve, reject) => {
    execFile('bash', [WINE_RUN, prefix, 'winepath', '-u', windowsPath], (error, stdout) => {
      if (error) reject(error);
      else resolve(stdout.trim());
    });
  });
}

function sameSecret(a, b) {
  const x = Buffer.from(a);
  const y = Buffer.from(b);
  return x.length === y.length && crypto.timingSafeEqual(x, y);
}

function listen(server) {
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => resolve(server.address().port));
  });
}

class UiHostRun extends EventEmitter {
  constructor(options) {
    super();
    this.options = options;
    this.secret = crypto.randomBytes(32).toString('hex');
    this.windowOps = [];
    this.boxes = [];
    this.output = '';
    this.page = null;
    this.browser = null;
    this.stub = null;
    this.process = null;
    this.root = null;
    this.startFile = null;
    // The page's pending synchronous request and the stub's open conversations.
    this.pageWaiting = null;
    this.conversations = [];
    this.deferred = [];
    this.currentBox = null;
    this.viewport = Promise.resolve();
    this.closing = false;
    this.pending = 0;
    this.exited = new Promise((resolve) => {
      this.resolveExited = resolve;
    });
    this.ready = new Promise((resolve, reject) => {
      this.resolveReady = resolve;
      this.rejectReady = reject;
    });
    this.ready.catch(() => {});
  }

  log(text) {
    if (this.options.verbose) process.stderr.write(`uihost: ${text}\n`);
  }

  async start() {
    this.stubServer = net.createServer((socket) => this.acceptStub(socket));
    this.httpServer = http.createServer((request, response) => this.serveHttp(request, response));
    this.stubPort = await listen(this.stubServer);
    this.httpPort = await listen(this.httpServer);
    this.origin = `http://127.0.0.1:${this.httpPort}`;
    const browserReady = this.launchBrowser();
    browserReady.catch(() => {});
    this.spawnStub();
    this.helloTimer = setTimeout(() => this.fail(new Error('the stub did not connect')), HELLO_TIMEOUT_MS);
    this.browserReady = browserReady;
    return this;
  }

  async launchBrowser() {
    const { chromium } = require('playwright-core');
    this.browser = await chromium.launch({
      executablePath: CHROMIUM,
      headless: this.options.headless,
      args: CHROMIUM_FLAGS,
      // The harness ends the browser itself, after asking the stub to close.
      handleSIGINT: false,
      handleSIGTERM: false,
      handleSIGHUP: false,
    });
    this.browser.on('disconnected', () => this.pageGone());
    const context = await this.browser.newContext({
      serviceWorkers: 'block',
      deviceScaleFactor: this.options.deviceScaleFactor || 1,
    });
    // Every top-frame navigation of every page: only the bundle's pages load.
    await context.route('**/*', (route) => this.routeRequest(route));
    await context.addInitScript({
      content: `(${installUiHostShim.toString()})(${JSON.stringify({
        origin: this.origin,
        maxFrameBytes: MAX_FRAME_BYTES,
        frameTooLarge: FRAME_TOO_LARGE,
      })});`,
    });
    this.page = await context.newPage();
    this.page.on('dialog', (dialog) => this.onDialog(dialog));
    this.page.on('load', () => this.onLoad());
    this.page.on('close', () => this.pageGone());
    this.page.on('pageerror', (error) => this.emit('pageerror', error));
    this.page.on('console', (message) => this.log(`console: ${message.text()}`));
    if (this.options.preparePage) await this.options.preparePage(this.page);
  }

  spawnStub() {
    const prefix = this.options.winePrefix || defaultWinePrefix();
    this.prefix = prefix;
    const args = [WINE_RUN, prefix, this.options.exe, ...(this.options.args || []), `uihost=127.0.0.1:${this.stubPort}`];
    this.process = spawn('bash', args, {
      env: { ...process.env, UIHOST_TOKEN: this.secret },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    const keep = (chunk) => {
      this.output += chunk.toString();
    };
    this.process.stdout.on('data', keep);
    this.process.stderr.on('data', keep);
    this.process.on('exit', (code, signal) => {
      this.log(`stub exited with ${code}`);
      this.exitCode = code;
      // What outlives the stub must not keep this program running: Wine's
      // processes that inherited its output, and its connection, which Wine
      // may keep open after a killed stub (it ends here after a second, in
      // which the stub's last frames still arrive).
      this.process.stdout.unref();
      this.process.stderr.unref();
      const stub = this.stub;
      if (stub) setTimeout(() => stub.destroy(), 1000).unref();
      this.shutdown().finally(() => this.resolveExited({ code, signal }));
      this.fail(new Error(`the stub ended before its page was ready (exit code ${code})`));
    });
  }

  fail(error) {
    this.rejectReady(error);
  }

  // The first connection that says hello with the secret is the stub; any
  // other is closed. Until its hello a connection may send one small frame
  // and has ten seconds; only a few may wait at once.
  acceptStub(socket) {
    if (this.stub || this.pending >= MAX_PENDING_CONNECTIONS) {
      socket.destroy();
      return;
    }
    this.pending += 1;
    const reader = new FrameReader({ firstLimit: MAX_HELLO_FRAME_BYTES });
    let accepted = false;
    let counted = true;
    const uncount = () => {
      if (counted) this.pending -= 1;
      counted = false;
    };
    const timer = setTimeout(() => socket.destroy(), 10000);
    socket.setNoDelay(true);
    socket.on('data', (chunk) => {
      reader.append(chunk);
      for (;;) {
        let message;
        try {
          message = reader.next();
        } catch (error) {
          this.log(`bad frame: ${error.message}`);
          socket.destroy();
          return;
        }
        if (message === null) return;
        if (accepted) {
          this.fromStub(message);
          continue;
        }
        if (message.type !== 'hello' || typeof message.token !== 'string' || !sameSecret(message.token, this.secret)) {
          socket.destroy();
          return;
        }
        if (this.stub) {
          socket.destroy();
          return;
        }
        accepted = true;
        uncount();
        clearTimeout(timer);
        this.stub = socket;
        this.stubServer.close();
        this.onHello(message).catch((error) => this.fail(error));
      }
    });
    socket.on('close', () => {
      clearTimeout(timer);
      uncount();
      if (accepted) this.stubGone();
    });
    socket.on('error', () => {});
  }

  // False when the message did not go: no stub, or too large for a frame.
  sendToStub(message) {
    if (!this.stub || this.stub.destroyed) return false;
    let frame;
    try {
      frame = encodeFrame(message);
    } catch (error) {
      this.log(`not sent to the stub: ${error.message}`);
      return false;
    }
    this.stub.write(frame);
    return true;
  }

  async onHello(message) {
    clearTimeout(this.helloTimer);
    const startPage = String(message.startPage || '');
    const cut = startPage.lastIndexOf('\\');
    if (cut < 0) throw new Error(`start page ${startPage} has no folder`);
    const folder = await winePath(this.prefix, startPage.slice(0, cut + 1));
    this.root = fs.realpathSync(folder);
    this.startFile = startPage.slice(cut + 1);
    this.log(`serving ${this.root}`);
    await this.browserReady;
    this.startUrl = `${this.origin}/${this.secret}/${encodeURIComponent(this.startFile)}`;
    await this.page.goto(this.startUrl, { waitUntil: 'load' });
    this.resolveReady(this);
  }

  isOwnPage(address) {
    return isBundlePage(address, this.origin, this.secret);
  }

  routeRequest(route) {
    const request = route.request();
    const frame = request.frame();
    if (!request.isNavigationRequest() || frame.parentFrame() !== null) return route.continue();
    const address = request.url();
    const verdict = classifyNavigation(address, this.origin, this.secret);
    if (verdict === 'load') return route.continue();
    this.log(`navigation to ${address} cancelled (${verdict})`);
    this.emit('navigation', { url: address, verdict });
    if (verdict === 'browser') this.emit('external', address);
    // No content: the browser stays on the page it shows (an aborted
    // navigation would replace it with an error page).
    return route.fulfill({ status: 204, body: '' });
  }

  onLoad() {
    if (!this.stub || !this.page || !this.isOwnPage(this.page.url())) return;
    this.sendToStub({ type: 'loaded' });
    this.page
      .title()
      .then((text) => this.sendToStub({ type: 'title', text }))
      .catch(() => {});
  }

  // ---- The stub's side of the conversation.

  fromStub(message) {
    switch (message.type) {
      case 'result':
      case 'done':
        this.replyToPage(message);
        break;
      case 'invoke':
      case 'box':
      case 'folder':
        this.conversations.push({ seq: message.seq, type: message.type });
        if (message.type === 'box') this.boxes.push(message);
        if (message.nested && this.pageWaiting) this.replyToPage(message);
        else if (this.pageWaiting) this.deferred.push(message);
        else this.push(message);
        break;
      case 'window':
        this.onWindow(message);
        break;
      case 'closing':
        // The window has closed; the page's current task may still call. The
        // stub serves it until the page has finished that task.
        this.whenPageIdle().then(() => this.sendToStub({ type: 'idle' }));
        break;
      case 'bye':
        this.log('the stub closed its window');
        this.shutdown();
        break;
      default:
        this.log(`unexpected message from the stub: ${message.type}`);
    }
  }

  replyToPage(message) {
    const waiting = this.pageWaiting;
    if (!waiting) {
      this.log(`no page request waits for ${message.type}`);
      return;
    }
    this.pageWaiting = null;
    if (message.type === 'box' || message.type === 'folder') this.currentBox = message;
    this.respond(waiting, message);
    // What the stub asked while the page was busy goes now.
    const next = this.deferred.shift();
    if (next) setImmediate(() => (this.pageWaiting ? this.deferred.unshift(next) : this.push(next)));
  }

  respond(response, message) {
    if (response.destroyed || response.writableEnded) return;
    response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
    response.end(JSON.stringify(message));
  }

  // Resolves once the page's current task has ended (or the page is gone).
  async whenPageIdle() {
    if (!this.page || this.page.isClosed()) return;
    await this.page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 0))).catch(() => {});
  }

  // Hands a message to the page while it is not in a call of its own.
  push(message) {
    if (message.type === 'box' || message.type === 'folder') this.currentBox = message;
    if (!this.page || this.page.isClosed() || !this.isOwnPage(this.page.url())) {
      this.answerForPage(message);
      return;
    }
    this.page.evaluate((m) => window.__uihostDeliver(m), message).catch((error) => {
      this.log(`delivery failed: ${error.message}`);
      // Unless the page answered before it went away, answer for it.
      setTimeout(() => this.answerForPage(message), 200);
    });
  }

  // The page cannot answer: a function call fails, a box counts as not shown.
  answerForPage(message) {
    const index = this.conversations.findIndex((c) => c.seq === message.seq);
    if (index < 0) return;
    this.conversations.splice(index, 1);
    if (message.type === 'invoke') this.sendToStub({ type: 'return', seq: message.seq, error: 'the page is gone' });
    else if (message.type === 'box') this.sendToStub({ type: 'answer', seq: message.seq, value: 0 });
    else this.sendToStub({ type: 'answer', seq: message.seq, text: message.initial });
  }

  onWindow(message) {
    const op = { ...message };
    delete op.type;
    this.windowOps.push(op);
    this.emit('window', op);
    if (op.op === 'resize' && op.width > 0 && op.height > 0 && this.page) {
      const size = { width: op.width, height: op.height };
      this.viewport = this.viewport.then(() => this.page.setViewportSize(size)).catch(() => {});
    }
  }

  async onDialog(dialog) {
    const box = this.currentBox;
    this.currentBox = null;
    const handler = box && box.type === 'folder' ? this.options.onFolder : this.options.onBox;
    if (!box) {
      await dialog.dismiss().catch(() => {});
      return;
    }
    if (!handler) {
      // Headed runs leave the dialog to the person at the screen.
      if (this.options.headless) await dialog.dismiss().catch(() => {});
      return;
    }
    const answer = await handler(box);
    if (box.type === 'folder') {
      if (typeof answer === 'string') await dialog.accept(answer).catch(() => {});
      else await dialog.dismiss().catch(() => {});
    } else if (answer) {
      await dialog.accept().catch(() => {});
    } else {
      await dialog.dismiss().catch(() => {});
    }
  }

  // ---- The page's side.

  serveHttp(request, response) {
    const headers = { 'Cache-Control': 'no-store', 'X-Content-Type-Options': 'nosniff' };
    const refuse = (status) => {
      response.writeHead(status, headers);
      response.end();
    };
    if (request.headers.host !== `127.0.0.1:${this.httpPort}`) return refuse(421);
    const url = String(request.url || '');
    const query = url.indexOf('?');
    const pathname = query < 0 ? url : url.slice(0, query);
    const prefix = `/${this.secret}/`;
    if (pathname.length < prefix.length || !sameSecret(pathname.slice(0, prefix.length), prefix)) return refuse(404);
    const rest = pathname.slice(prefix.length);
    if (rest === RPC_PATH) return this.serveRpc(request, response, refuse);
    if (request.method !== 'GET' && request.method !== 'HEAD') return refuse(405);
    if (!this.root) return refuse(503);
    const file = resolveStatic(this.root, rest);
    if (!file) return refuse(404);
    response.writeHead(200, { ...headers, 'Content-Type': contentType(file) });
    if (request.method === 'HEAD') return response.end();
    fs.createReadStream(file).pipe(response);
  }

  serveRpc(request, response, refuse) {
    if (request.method !== 'POST') return refuse(405);
    const origin = request.headers.origin;
    if (origin !== undefined && origin !== this.origin) return refuse(403);
    // The asking document, where the browser names it, must be a bundle page.
    const referer = request.headers.referer;
    if (referer !== undefined && !this.isOwnPage(referer)) return refuse(403);
    if (!String(request.headers['content-type'] || '').startsWith('application/json')) return refuse(415);
    const chunks = [];
    let size = 0;
    let tooLarge = false;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > MAX_FRAME_BYTES) {
        // Read on without keeping it, so that the page hears the refusal.
        tooLarge = true;
        chunks.length = 0;
      } else {
        chunks.push(chunk);
      }
    });
    request.on('end', () => {
      if (tooLarge) return refuse(413);
      let message;
      try {
        message = JSON.parse(Buffer.concat(chunks).toString('utf8'));
      } catch {
        return refuse(400);
      }
      if (message === null || typeof message !== 'object' || typeof message.type !== 'string') return refuse(400);
      if (!['get', 'put', 'call', 'delete', 'return', 'answer'].includes(message.type)) return refuse(400);
      if (!this.stub || this.stub.destroyed) return refuse(503);
      // The page is single-threaded: a second request while one waits is not ours.
      if (this.pageWaiting) return refuse(409);
      if (message.type === 'return' || message.type === 'answer') {
        const index = this.conversations.findIndex((c) => c.seq === message.seq);
        if (index < 0) return refuse(409);
        this.conversations.splice(index, 1);
      }
      this.pageWaiting = response;
      response.on('close', () => {
        if (this.pageWaiting === response) this.pageWaiting = null;
      });
      if (this.sendToStub(message)) return;
      // Too large for a frame (the page's own check lets nothing of the kind
      // through): a request of the page fails in its script, an answer to
      // the stub goes as a failure, and the conversation goes on.
      if (message.type === 'return') this.sendToStub({ type: 'return', seq: message.seq, error: 'too large for the UI host' });
      else if (message.type === 'answer') this.sendToStub({ type: 'answer', seq: message.seq });
      else {
        this.pageWaiting = null;
        this.respond(response, { type: 'result', error: FRAME_TOO_LARGE });
      }
    });
  }

  // ---- Endings.

  pageGone() {
    if (this.closing) return;
    this.log('the browser window closed');
    this.sendToStub({ type: 'close' });
    for (const open of [...this.conversations].reverse()) this.answerForPage(open);
  }

  stubGone() {
    this.stub = null;
    this.shutdown();
  }

  async shutdown() {
    if (this.closing) return this.closed;
    this.closing = true;
    this.closed = (async () => {
      clearTimeout(this.helloTimer);
      this.stubServer.close();
      this.httpServer.close();
      if (this.browser) await this.browser.close().catch(() => {});
      else if (this.browserReady) {
        await this.browserReady.catch(() => {});
        if (this.browser) await this.browser.close().catch(() => {});
      }
    })();
    return this.closed;
  }

  // Ends everything: asks the stub to close as if its window were closed,
  // closes the browser and the servers, and ends the stub if it has not
  // ended by itself within `graceMs`.
  async close(graceMs = 20000) {
    this.sendToStub({ type: 'close' });
    await this.shutdown();
    const running = () => this.process && this.process.exitCode === null && this.process.signalCode === null;
    if (running()) {
      const timer = setTimeout(() => running() && this.process.kill('SIGTERM'), graceMs);
      await this.exited;
      clearTimeout(timer);
    }
    return this.exited;
  }
}

// Starts a run. Options:
//   exe        the stub executable (a Linux path)
//   args       its arguments before "uihost=..." (for example ["run=1"])
//   headless   default: no DISPLAY in the environment
//   winePrefix default: STUB_WINEPREFIX or build/wineprefix
//   onBox(box) answers a message box: true accepts (OK, Yes), false declines
//   onFolder(box) answers the folder picker: a path, or null to cancel
//   deviceScaleFactor  screen pixels per CSS pixel (default 1; 1.5 is 144 DPI)
//   preparePage(page)  awaited before the start page opens (routes, hooks)
//   verbose    logs the conversation to stderr
// The returned run's `ready` resolves when the start page has loaded; its
// `exited` resolves with the stub's exit code (as Linux sees it: the low 8 bits).
async function startUiHost(options) {
  const run = new UiHostRun({ headless: !process.env.DISPLAY, ...options });
  await run.start();
  return run;
}

module.exports = { startUiHost, UiHostRun, CHROMIUM, CHROMIUM_FLAGS, defaultWinePrefix, winePath };
