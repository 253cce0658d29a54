// Headless Chromium driven over the DevTools protocol through a pipe (so the browser ends
// when the process that started it does): screenshots of a page online and of a saved copy
// opened from disk with every request out of the machine refused, at the same viewport, with
// the requests each page sent; and the likeness of two screenshots.
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

// The viewport, and so the screenshots: tall enough for every page's content.
export const kWidth = 1280;
export const kHeight = 2400;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Counts the changes of the document from its first moment on.
const kCountChanges = `window.__shotChanges = 0;
new MutationObserver(() => { window.__shotChanges++; })
  .observe(document, {subtree: true, childList: true, attributes: true, characterData: true});`;

export class Chromium {
  // Its profile a new folder in `parent`.
  static start(parent = tmpdir()) {
    const profile = mkdtempSync(join(parent, 'rendered-shots-'));
    const proc = spawn('/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu',
      '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--hide-scrollbars',
      '--font-render-hinting=none', `--user-data-dir=${profile}`, '--remote-debugging-pipe',
      'about:blank'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
    return new Chromium(proc, profile);
  }

  constructor(proc, profile) {
    Object.assign(this, { proc, profile, next: 1, waiting: new Map(), listeners: new Set() });
    let pending = '';
    proc.stdio[4].on('data', (chunk) => {
      const parts = (pending + chunk.toString('utf8')).split('\0');
      pending = parts.pop();
      for (const part of parts) this.receive(JSON.parse(part));
    });
    this.exited = new Promise((resolve) => proc.once('exit', resolve));
    this.exited.then(() => {
      for (const { reject } of this.waiting.values()) reject(new Error('the browser ended'));
      this.waiting.clear();
    });
  }

  receive(m) {
    if (m.id && this.waiting.has(m.id)) {
      const { resolve, reject } = this.waiting.get(m.id);
      this.waiting.delete(m.id);
      if (m.error) reject(new Error(m.error.message)); else resolve(m.result);
    } else if (m.method) {
      for (const l of this.listeners) l(m);
    }
  }

  send(method, params = {}, sessionId = undefined, ms = 30000) {
    const id = this.next++;
    this.proc.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.waiting.delete(id);
        reject(new Error(`${method} had no answer in ${ms} ms`));
      }, ms);
      this.waiting.set(id, {
        resolve: (v) => { clearTimeout(timer); resolve(v); },
        reject: (e) => { clearTimeout(timer); reject(e); },
      });
    });
  }

  // Opens `url` in a context of its own (`offline`: every request through a closed port,
  // loopback too), waits until it has loaded and been quiet (no request open, none for
  // 500 ms, no change of its document for 300 ms) or `limitMs` has passed, and takes a
  // screenshot. {png, requests: the addresses the page asked for, quiet: whether it was}.
  async shoot(url, { offline = false, limitMs = 8000 } = {}) {
    const { browserContextId } = await this.send('Target.createBrowserContext', offline
      ? { proxyServer: '127.0.0.1:9', proxyBypassList: '<-loopback>' } : {});
    const { targetId } = await this.send('Target.createTarget',
      { url: 'about:blank', browserContextId });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const requests = [], open = new Set();
    let loaded = false, lastNetwork = Date.now();
    const listen = (m) => {
      if (m.sessionId !== sessionId) return;
      const p = m.params;
      if (m.method === 'Page.loadEventFired') loaded = true;
      if (m.method === 'Network.requestWillBeSent') {
        requests.push(p.request.url);
        // A stream held open is no request in flight.
        if (p.type !== 'EventSource') open.add(p.requestId);
      } else if (m.method === 'Network.loadingFinished' || m.method === 'Network.loadingFailed') {
        open.delete(p.requestId);
      } else {
        return;
      }
      lastNetwork = Date.now();
    };
    this.listeners.add(listen);
    try {
      await this.send('Page.enable', {}, sessionId);
      await this.send('Network.enable', {}, sessionId);
      await this.send('Emulation.setDeviceMetricsOverride',
        { width: kWidth, height: kHeight, deviceScaleFactor: 1, mobile: false }, sessionId);
      await this.send('Page.addScriptToEvaluateOnNewDocument', { source: kCountChanges }, sessionId);
      const end = Date.now() + limitMs;
      await this.send('Page.navigate', { url }, sessionId);
      const quiet = await this.waitQuiet(sessionId, end, () => loaded && open.size === 0 &&
        Date.now() - lastNetwork >= 500);
      const { data } = await this.send('Page.captureScreenshot', { format: 'png',
        clip: { x: 0, y: 0, width: kWidth, height: kHeight, scale: 1 } }, sessionId);
      return { png: Buffer.from(data, 'base64'), requests, quiet };
    } finally {
      this.listeners.delete(listen);
      await this.send('Target.closeTarget', { targetId }).catch(() => {});
      await this.send('Target.disposeBrowserContext', { browserContextId }).catch(() => {});
    }
  }

  // Polls until `networkQuiet()` holds and the document has not changed for 300 ms, or until
  // `end`; whether it became quiet.
  async waitQuiet(sessionId, end, networkQuiet) {
    let changes = -1, changedAt = Date.now();
    for (;;) {
      const now = Date.now();
      const { result } = await this.send('Runtime.evaluate',
        { expression: 'window.__shotChanges || 0', returnByValue: true }, sessionId);
      if (result.value !== changes) changes = result.value, changedAt = now;
      if (networkQuiet() && now - changedAt >= 300) return true;
      if (now >= end) return false;
      await sleep(50);
    }
  }

  // The browser and its profile are gone.
  async stop() {
    await Promise.race([this.send('Browser.close', {}, undefined, 5000).catch(() => {}), sleep(5000)]);
    if (this.proc.exitCode === null && this.proc.signalCode === null) this.proc.kill('SIGKILL');
    await this.exited;
    // Its helpers end after it, still writing into the profile for a moment.
    const end = Date.now() + 10000;
    while (Date.now() < end && spawnSync('pgrep', ['-f', '--', this.profile]).status === 0)
      await sleep(100);
    rmSync(this.profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
  }
}

// The requests a saved copy sent out of the machine: file: and data: addresses (and blob:
// ones, made in the page itself) stay in it.
export const escaping = (requests) => requests.filter((u) => !/^(file|data|blob|about):/i.test(u));

// 1 - RMSE of two screenshots of the same size, as ImageMagick's compare measures it; 0 when
// either is missing.
export function likeness(pngA, pngB, folder) {
  if (!pngA || !pngB) return 0;
  const a = join(folder, 'likeness-a.png'), b = join(folder, 'likeness-b.png');
  writeFileSync(a, pngA);
  writeFileSync(b, pngB);
  const r = spawnSync('compare', ['-metric', 'RMSE', a, b, 'null:'], { encoding: 'utf8' });
  const m = /\(([0-9.e+-]+)\)/.exec(r.stderr || '');
  return m ? 1 - Number(m[1]) : 0;
}
