'use strict';
// Follows a run of the setup pages in the browser UI host: the documents the
// browser showed, in order, and a screenshot of each page. The pages move on
// through the bundle's one navigation function (Navigator.go of common.js);
// a wrapper lets the current page be drawn before it does, so that pages
// that move on at once (the start page, a minimum-system check that passes)
// are drawn too. Hand `prepare` to the harness as its preparePage option.

const fs = require('node:fs');
const path = require('node:path');

// Let bars, fades and fonts settle before a page is drawn.
const SETTLE_MS = 300;

class PageFlow {
  // shotsDir: where NN-Title.png files go (none when empty).
  constructor({ shotsDir = '' } = {}) {
    this.shotsDir = shotsDir;
    this.page = null;
    this.documents = [];
    this.shots = [];
    this.errors = [];
    this.drawn = new Set();
    this.prepare = this.prepare.bind(this);
  }

  async prepare(page) {
    this.page = page;
    if (this.shotsDir) fs.mkdirSync(this.shotsDir, { recursive: true });
    page.on('pageerror', (error) => this.errors.push(String(error.message || error)));
    page.on('framenavigated', (frame) => {
      if (frame === page.mainFrame()) this.documents.push(this.documentOf(frame.url()));
    });
    await page.exposeBinding('__pageFlowLeaving', () => this.draw().then(() => null, () => null));
    await page.addInitScript(() => {
      // common.js declares `var Navigator`; the declaration keeps this
      // property and its assignment goes through the setter.
      let held = null;
      Object.defineProperty(window, 'Navigator', {
        configurable: true,
        get: () => held,
        set: (value) => {
          if (value && typeof value.go === 'function') {
            const go = value.go;
            value.go = function (url) {
              const leave = () => go.call(value, url);
              window.__pageFlowLeaving().then(leave, leave);
            };
          }
          held = value;
        },
      });
    });
  }

  // The bundle-relative path of a page address (".../<secret>/pages/X/page.html").
  documentOf(url) {
    const pathname = new URL(url).pathname.split('/').slice(2).join('/');
    return decodeURIComponent(pathname);
  }

  titles() {
    return this.shots.map((shot) => shot.title);
  }

  async title() {
    return this.page ? this.page.title().catch(() => '') : '';
  }

  // Draws the page the browser shows now, once per document.
  async draw() {
    const document = this.documents[this.documents.length - 1];
    if (!this.page || !document || this.drawn.has(this.documents.length)) return null;
    this.drawn.add(this.documents.length);
    await new Promise((resolve) => setTimeout(resolve, SETTLE_MS));
    const title = (await this.title()) || path.basename(path.dirname(document));
    const shot = { title, document, file: '' };
    if (this.shotsDir) {
      shot.file = path.join(this.shotsDir, `${String(this.shots.length + 1).padStart(2, '0')}-${title.replace(/[^\w-]/g, '_')}.png`);
      await this.page.screenshot({ path: shot.file });
    }
    this.shots.push(shot);
    return shot;
  }

  // Waits until the browser shows one of the named pages; its title, or ''
  // when the time runs out.
  async waitForPage(names, timeoutMs) {
    const until = Date.now() + timeoutMs;
    for (;;) {
      const title = await this.title();
      if (names.includes(title)) return title;
      if (Date.now() > until || (this.page && this.page.isClosed())) return '';
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }
}

module.exports = { PageFlow };
