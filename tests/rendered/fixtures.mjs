// The pages that scripts build, the server that serves them, and running a saver against
// them: shared by the check (check_rendered.mjs) and the benchmark (bench/rendered.mjs).
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { constants } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

// Each page: `path` on the server, `what` it shows, the `waitLimit` of its save in seconds and
// the `reason` its wait must end for (20 and quiet unless given), `bounded` when it must stay
// bounded however far it is scrolled, and `expectedFailure`: why its copy cannot be like it yet.
export const fixtures = [
  { name: 'react', path: '/build/react/', what: 'React app (Vite), its list fetched as JSON' },
  { name: 'vue', path: '/build/vue/', what: 'Vue app (Vite), its list fetched as JSON' },
  { name: 'json-list', path: '/json-list/', what: 'list fetched as JSON' },
  { name: 'gallery', path: '/gallery/', what: 'pictures loaded as they come into view, far below' },
  { name: 'shadow-open', path: '/shadow/open.html', what: 'web component, open shadow roots' },
  { name: 'shadow-closed', path: '/shadow/closed.html', what: 'web component, closed shadow roots' },
  { name: 'css', path: '/css/', what: 'insertRule and adoptedStyleSheets' },
  { name: 'canvas', path: '/canvas/', what: 'chart drawn on a canvas' },
  { name: 'modules', path: '/modules/', what: 'module script importing a module' },
  { name: 'beacon', path: '/beacon/', what: 'a beacon every 200 ms, never quiet', waitLimit: 5,
    reason: 'wait limit' },
  { name: 'events', path: '/events/', what: 'EventSource stream held open' },
  { name: 'feed', path: '/feed/', what: 'endless feed, more as it scrolls', bounded: true },
].map((f) => ({ waitLimit: 20, reason: 'quiet', ...f }));

// How long a screenshot waits for the page to be quiet: a page that never is (the beacon
// page builds its content as it loads) is shot after a while.
export const shotLimit = (f) => (f.reason === 'quiet' ? 20000 : 3000);

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Runs a command in a process group of its own, ended (the whole group) at `limitMs`.
// {code, stdout, stderr, ms}.
export function run(command, args, limitMs) {
  return new Promise((resolve) => {
    const start = process.hrtime.bigint();
    const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], detached: true });
    running.add(child);
    let stdout = '', stderr = '';
    child.stdout.on('data', (d) => { stdout += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    const timer = setTimeout(() => { stderr += `\n(ended after ${limitMs} ms)`; kill(child); }, limitMs);
    child.on('error', (e) => { stderr += `\n${e.message}`; });
    child.on('close', (code, signal) => {
      clearTimeout(timer);
      running.delete(child);
      resolve({ code: code ?? signal, stdout, stderr, ms: Number(process.hrtime.bigint() - start) / 1e6 });
    });
  });
}

const running = new Set();
function kill(child) {
  try { process.kill(-child.pid, 'SIGKILL'); } catch { /* gone already */ }
}
// Whatever is still running ends with this process, however it ends.
process.on('exit', () => { for (const c of running) kill(c); });
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(signal, () => process.exit(128 + constants.signals[signal]));
}

// Runs `work` on each of `items`, `width` at a time; the results in the items' order.
export async function inTurns(items, width, work) {
  const results = [];
  let next = 0;
  const lane = async () => {
    while (next < items.length) {
      const i = next++;
      results[i] = await work(items[i]);
    }
  };
  await Promise.all(Array.from({ length: width }, lane));
  return results;
}

// Builds the React and Vue pages into `out` with Vite.
export async function buildApps(out) {
  const r = await run(process.execPath, [join(here, 'build_apps.mjs'), out], 120000);
  if (r.code !== 0) throw new Error('the apps could not be built:\n' + r.stderr);
}

// The fixtures' server on a port of its own choosing, serving `built` under /build/.
// {base, stop}.
export async function startServer(built) {
  const child = spawn(process.execPath, [join(here, 'server.mjs'), join(here, 'fixtures'), built],
    { stdio: ['pipe', 'pipe', 'inherit'] });
  running.add(child);
  let said = '';
  child.stdout.on('data', (d) => { said += d; });
  const end = Date.now() + 15000;
  while (!/^port (\d+)$/m.test(said)) {
    if (Date.now() > end || child.exitCode !== null) throw new Error('the fixtures server did not start');
    await sleep(50);
  }
  const port = /^port (\d+)$/m.exec(said)[1];
  return {
    base: `http://127.0.0.1:${port}`,
    stop: async () => {
      const exited = new Promise((r) => child.once('exit', r));
      child.stdin.end();
      await Promise.race([exited, sleep(5000)]);
      kill(child);
      running.delete(child);
    },
  };
}

// Why qmsave's wait ended, from what it said: "quiet", "wait limit", or ''.
export function doneBy(said) {
  const m = /\[rendered, done at ([^\]]+)\]$/m.exec(said);
  return m ? m[1] : '';
}

// The page a save wrote: the file the user named, or the one its redirecting stub names.
export function savedPage(file) {
  const m = /<meta http-equiv="refresh" content="0; url=([^"]+)">/.exec(readFileSync(file, 'utf8'));
  return m ? resolve(dirname(file), decodeURIComponent(m[1])) : file;
}
