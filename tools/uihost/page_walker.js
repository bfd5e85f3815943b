'use strict';
// Watches the pages a stub shows in the browser UI host, for someone trying
// a bundle: one line per page as it comes, a screenshot of each (when a
// folder is given), the page's forward button pressed (click-through), and,
// for a page that stays without a button to press, one line saying why it
// waits. A time limit ends the run with the page it stopped on.
//
// States: watching -> (a final page pressed, the stub ended, or the time ran
// out) stopped. Everything runs on Node's event loop through one polling
// timer, which stop() clears; the caller owns the run and closes it.

const fs = require('node:fs');
const path = require('node:path');

const POLL_MS = 250;
// A page is drawn once it has been still this long (bars, fades, fonts).
const SETTLE_MS = 400;
// A page that stays this long without a button to press gets its line.
const WAIT_NOTE_MS = 4000;
// The buttons that move a page on, in the order they are tried; the last
// three end the run from a final page.
const FORWARD_BUTTONS = ['#btn-next', '#btn-now', '#btn-finish', '#btn-close-page', '#btn-later'];
const FINAL_PAGES = ['Finish', 'Error', 'Restart'];
// Settings that let the shipped pages go on under Wine, whose reported
// facts fail the shipped minimum-system check.
const WINE_SETTINGS_HINT = 'demo/wine_settings.json';

// Why a page that offers no button waits: pages that know, by title; the
// function runs in the page and answers text, or '' for the general reason.
const WAIT_REASONS = {
  MinSys: {
    probe: () => (typeof MinSys !== 'undefined' && MinSys.failed ? MinSys.failed().join(', ') : ''),
    say: (failed) => `this machine does not meet Config_MinSys (failed: ${failed || 'unknown'}); to try the pages ` +
      `anyway, lay Config_MinSys = [] over config/config.js (--overlay ${WINE_SETTINGS_HINT})`,
  },
};

function fileTitle(title) {
  return title.replace(/[^\w-]/g, '_') || 'page';
}

class PageWalker {
  // run: the harness's run (ready resolved); say(line) prints.
  constructor(run, { shotsDir = '', clickThrough = false, timeoutMs = 0, say = () => {} } = {}) {
    this.run = run;
    this.shotsDir = shotsDir;
    this.clickThrough = clickThrough;
    this.say = say;
    this.pages = [];
    this.shots = [];
    this.stopped = false;
    this.current = null;  // { url, title, since, drawn, noted, pressed }
    this.deadline = timeoutMs > 0 ? Date.now() + timeoutMs : 0;
    this.timedOut = false;
    this.busy = false;
    if (shotsDir) fs.mkdirSync(shotsDir, { recursive: true });
    this.timer = setInterval(() => this.poll(), POLL_MS);
    this.done = new Promise((resolve) => { this.finish = resolve; });
  }

  stop() {
    if (this.stopped) return;
    this.stopped = true;
    clearInterval(this.timer);
    this.finish();
  }

  async poll() {
    if (this.busy || this.stopped) return;
    this.busy = true;
    try {
      await this.step();
    } catch {
      // The page navigated or closed between two looks; the next poll sees it.
    } finally {
      this.busy = false;
    }
  }

  async step() {
    const page = this.run.page;
    if (!page || page.isClosed()) return;
    const url = page.url();
    // Before the start page: nothing to show yet.
    if (url === 'about:blank') return;
    const title = await page.title();
    const now = Date.now();
    if (!this.current || this.current.url !== url || this.current.title !== title) {
      this.current = { url, title, since: now, drawn: false, noted: false, pressed: false };
      this.pages.push(title);
      this.say(`page: ${title}`);
    }
    const current = this.current;
    if (!current.drawn && now - current.since >= SETTLE_MS) {
      current.drawn = true;
      if (this.shotsDir) {
        const file = path.join(this.shotsDir, `${String(this.shots.length + 1).padStart(2, '0')}-${fileTitle(title)}.png`);
        await page.screenshot({ path: file });
        this.shots.push(file);
      }
    }
    if (this.deadline && now > this.deadline) {
      this.timedOut = true;
      this.say(`timed out on ${title}: ${await this.reason(title)}`);
      this.stop();
      return;
    }
    if (!current.drawn) return;
    const button = await this.forwardButton();
    if (button && this.clickThrough && !current.pressed) {
      current.pressed = true;
      this.say(`${title}: pressing ${button}`);
      await page.click(button, { timeout: 5000 });
      if (FINAL_PAGES.includes(title)) this.stop();
      return;
    }
    if (!current.noted && now - current.since >= WAIT_NOTE_MS) {
      current.noted = true;
      this.say(`${title}: ${await this.reason(title, button)}`);
    }
  }

  // The first forward button that is visible and enabled, or ''.
  async forwardButton() {
    for (const selector of FORWARD_BUTTONS) {
      const handle = await this.run.page.$(selector);
      if (handle && (await handle.isVisible()) && (await handle.isEnabled())) return selector;
    }
    return '';
  }

  async reason(title, button = '') {
    const known = WAIT_REASONS[title];
    if (known) {
      const found = await this.run.page.evaluate(known.probe).catch(() => '');
      if (found) return known.say(found);
    }
    if (button) return `waiting for a click on ${button} (--click-through presses it)`;
    return 'waiting for the stub (no button to press; the page moves on by itself when its work ends)';
  }
}

module.exports = { PageWalker, FORWARD_BUTTONS, WAIT_REASONS };
