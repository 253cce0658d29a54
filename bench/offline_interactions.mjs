// What still works when a saved copy of a documentation site is opened from disk: search,
// rustdoc's theme and settings, sidebars built by scripts. Each row opens a page of a copy
// in headless Chromium with every request out of the machine refused, does what a reader
// would through the DevTools protocol, and tells whether the page answered.
// Usage: node --experimental-websocket offline_interactions.mjs SITE COPY-ROOT...
// (each COPY-ROOT holds the site's folder, SITE/...); prints one line per row and copy.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

// In the page: waits until `test` gives something true, polling, for at most `ms`.
const waitFor = `async (test, ms = 8000) => {
  const end = Date.now() + ms;
  for (;;) {
    let v; try { v = test(); } catch (e) { v = undefined; }
    if (v) return v;
    if (Date.now() > end) return undefined;
    await new Promise((r) => setTimeout(r, 100));
  }
}`;

// site | what a reader does | page in the site's folder | in the page: an answer, or none.
// An answer that is a list of file: URLs passes when each names a saved file; one that is
// {frame, then} passes when `then` answers in the page's frame of that name.
const rows = [
  ['javadoc', 'search for a class', 'index.html', `async () => {
    const box = await waitFor(() => { const i = document.querySelector('#search-input'); return i && !i.disabled && i; });
    if (!box) return '';
    box.value = 'StringUtils';
    $(box).catcomplete('search', 'StringUtils');
    const n = await waitFor(() => document.querySelectorAll('.ui-autocomplete li.ui-menu-item').length);
    return n ? n + ' results' : '';
  }`],
  ['rustdoc', 'search for a macro', 'quote/index.html?search=format_ident', `async () => {
    const n = await waitFor(() => document.querySelectorAll('#search .search-results a').length);
    return n ? n + ' results' : '';
  }`],
  ['rustdoc', 'open the settings panel', 'quote/index.html', `async () => {
    document.querySelector('#settings-menu a').click();
    const n = await waitFor(() => document.querySelectorAll('#settings input').length);
    return n ? n + ' settings' : '';
  }`],
  ['rustdoc', 'switch to the dark theme', 'quote/index.html', `async () => {
    document.querySelector('#settings-menu a').click();
    const dark = await waitFor(() => document.querySelector('#settings input[value="dark"]'));
    if (!dark) return '';
    // The system's theme, when it is followed, decides over the reader's choice.
    const system = document.querySelector('#use-system-theme');
    if (system && system.checked) system.click();
    const before = getComputedStyle(document.body).backgroundColor;
    dark.click();
    const after = await waitFor(() => {
      const c = getComputedStyle(document.body).backgroundColor;
      return c !== before && c;
    });
    return after ? before + ' to ' + after : '';
  }`],
  ['rustdoc', 'follow the sidebar', 'quote/macro.quote.html', `async () => {
    const links = await waitFor(() => {
      const a = [...document.querySelectorAll('.sidebar-elems a[href]')].filter((x) => x.protocol === 'file:' && !x.getAttribute('href').startsWith('#'));
      return a.length && a;
    });
    return links ? links.map((a) => a.href) : '';
  }`],
  ['python', 'search for a word', 'search.html?q=tutorial', `async () => {
    const n = await waitFor(() => document.querySelectorAll('#search-results ul.search li').length, 15000);
    return n ? n + ' results' : '';
  }`],
  ['python', 'quick search leads to the saved search page', 'index.html', `async () => {
    const f = document.querySelector('form[action*="search"]');
    return f && f.action.startsWith('file:') ? [f.action] : '';
  }`],
  ['lmdb', 'search for a word', 'index.html', `async () => {
    const box = document.querySelector('#MSearchField');
    if (!box || typeof searchBox === 'undefined') return '';
    box.value = 'txn';
    searchBox.Search();
    return { frame: 'MSearchResults', then: \`async () => {
      const n = await waitFor(() => [...document.querySelectorAll('.SRResult')].filter((e) => e.style.display === 'block').length);
      return n ? n + ' results' : '';
    }\` };
  }`],
  ['mkdocs', 'search for a word', 'index.html', `async () => {
    const box = document.querySelector('#mkdocs-search-query');
    if (!box) return '';
    box.value = 'theme';
    box.dispatchEvent(new KeyboardEvent('keyup', { bubbles: true }));
    const n = await waitFor(() => document.querySelectorAll('#mkdocs-search-results article').length);
    return n ? n + ' results' : '';
  }`],
];

class Browser {
  static async start() {
    const profile = mkdtempSync(join(tmpdir(), 'offline-'));
    const proc = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
      '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', `--user-data-dir=${profile}`, '--remote-debugging-port=0',
      '--proxy-server=127.0.0.1:9', '--proxy-bypass-list=<-loopback>', 'about:blank'],
    { stdio: 'ignore', detached: true });
    const portFile = join(profile, 'DevToolsActivePort');
    const end = Date.now() + 20000;
    while (!existsSync(portFile) || readFileSync(portFile, 'utf8').split('\n').length < 2) {
      if (Date.now() > end) throw new Error('chromium did not start');
      await new Promise((r) => setTimeout(r, 100));
    }
    const [port, path] = readFileSync(portFile, 'utf8').split('\n');
    const b = new Browser(proc, profile);
    await b.connect(`ws://127.0.0.1:${port}${path}`);
    return b;
  }
  constructor(proc, profile) {
    Object.assign(this, { proc, profile, next: 1, waiting: new Map(), listeners: [] });
  }
  connect(url) {
    this.ws = new WebSocket(url);
    this.ws.onmessage = (e) => {
      const m = JSON.parse(e.data);
      if (m.id && this.waiting.has(m.id)) {
        const { resolve, reject } = this.waiting.get(m.id);
        this.waiting.delete(m.id);
        if (m.error) reject(new Error(m.error.message)); else resolve(m.result);
      } else if (m.method) {
        for (const l of this.listeners) l(m);
      }
    };
    return new Promise((resolve, reject) => { this.ws.onopen = resolve; this.ws.onerror = reject; });
  }
  send(method, params = {}, sessionId) {
    const id = this.next++;
    this.ws.send(JSON.stringify({ id, method, params, sessionId }));
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject }));
  }
  event(sessionId, method, ms) {
    return new Promise((resolve) => {
      const timer = setTimeout(() => resolve(false), ms);
      this.listeners.push((m) => {
        if (m.sessionId === sessionId && m.method === method) { clearTimeout(timer); resolve(true); }
      });
    });
  }
  // The browser and every process it started are gone, and their profile with them.
  async stop() {
    const exited = new Promise((resolve) => this.proc.once('exit', resolve));
    await Promise.race([this.send('Browser.close').catch(() => {}),
      new Promise((r) => setTimeout(r, 5000))]);
    this.ws.close();
    try { process.kill(-this.proc.pid, 'SIGKILL'); } catch { /* already gone */ }
    await exited;
    rmSync(this.profile, { recursive: true, force: true, maxRetries: 5 });
  }
}

// The frame named `name` in the page, once it shows a file; its id.
async function frameNamed(browser, sessionId, name) {
  const end = Date.now() + 8000;
  while (Date.now() < end) {
    const { frameTree } = await browser.send('Page.getFrameTree', {}, sessionId);
    const child = (frameTree.childFrames || []).find((c) => c.frame.name === name);
    if (child && child.frame.url.startsWith('file:')) return child.frame.id;
    await new Promise((r) => setTimeout(r, 100));
  }
  return undefined;
}

async function evaluate(browser, sessionId, action, contextId) {
  const { result } = await browser.send('Runtime.evaluate', {
    expression: `(async () => { const waitFor = ${waitFor}; return (${action})(); })()`,
    awaitPromise: true, returnByValue: true, contextId }, sessionId);
  return result.value;
}

async function check(browser, url, action) {
  const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
  try {
    await browser.send('Page.enable', {}, sessionId);
    const loaded = browser.event(sessionId, 'Page.loadEventFired', 20000);
    await browser.send('Page.navigate', { url }, sessionId);
    if (!await loaded) return 'no load event';
    let answer = await evaluate(browser, sessionId, action);
    if (answer && answer.frame) {
      const frameId = await frameNamed(browser, sessionId, answer.frame);
      if (!frameId) return 'no ' + answer.frame + ' frame';
      const { executionContextId } = await browser.send('Page.createIsolatedWorld', { frameId }, sessionId);
      answer = await evaluate(browser, sessionId, answer.then, executionContextId);
    }
    if (!answer) return 'no answer';
    if (!Array.isArray(answer)) return 'works: ' + answer;
    const files = answer.map((u) => fileURLToPath(u.replace(/[?#].*$/, '')));
    const missing = files.filter((f) => !existsSync(f));
    return missing.length ? `${missing.length} of ${files.length} lead to no file`
      : `works: ${files.length} lead to saved files`;
  } catch (e) {
    return 'error: ' + e.message;
  } finally {
    await browser.send('Target.closeTarget', { targetId });
  }
}

const [site, ...roots] = process.argv.slice(2);
const browser = await Browser.start();
try {
  for (const [name, what, page, action] of rows) {
    if (name !== site) continue;
    const answers = [];
    for (const root of roots) {
      const [file, query] = page.split(/(?=[?])/);
      const path = join(root, site, file);
      answers.push(existsSync(path) ? await check(browser, pathToFileURL(path).href + (query || ''), action)
        : 'page not saved');
    }
    console.log(`| ${site} | ${what} | ${answers.join(' | ')} |`);
  }
} finally {
  await browser.stop();
}
