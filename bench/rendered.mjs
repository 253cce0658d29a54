// Pages that scripts build (tests/rendered), each saved by `qmsave page --complete --rendered`,
// by the static `qmsave page --complete --static`, and by SingleFile where it is installed;
// each copy opened from disk in headless Chromium with every request out of the machine
// refused and compared with the page online. One row per page: likeness (1 - RMSE of the screenshots),
// requests escaping the copy, files, bytes, and the median time of RUNS saves.
// Usage: node rendered.mjs QMSAVE SINGLE-FILE|- WORK-DIR RUNS [PAGE...]
import { mkdirSync, readdirSync, rmSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { Chromium, escaping, likeness } from '../tests/rendered/chromium.mjs';
import { buildApps, fixtures, run, savedPage, shotLimit, startServer } from '../tests/rendered/fixtures.mjs';

const [qmsave, singleFile, work, runs, ...only] = process.argv.slice(2);

// name | how it saves URL into FOLDER, its page FOLDER/page.html | tries (SingleFile loses
// its script context now and then).
const savers = [
  { name: 'qmsave --rendered', args: (url, folder, f) => [qmsave, ['page', url, join(folder, 'page.html'),
    '--complete', '--rendered', '--wait-limit', String(f.waitLimit)]] },
  { name: 'qmsave static', args: (url, folder) => [qmsave, ['page', url, join(folder, 'page.html'), '--complete',
    '--static']] },
  { name: 'SingleFile', tries: 3, args: (url, folder) => [singleFile, [url, join(folder, 'page.html'),
    '--browser-executable-path=/usr/bin/chromium', '--browser-args=["--no-sandbox"]']] },
].filter((s) => s.name !== 'SingleFile' || singleFile !== '-');

function files(folder) {
  let count = 0, bytes = 0;
  for (const e of readdirSync(folder, { withFileTypes: true, recursive: true })) {
    if (!e.isFile() || /^likeness-/.test(e.name)) continue;
    count++;
    bytes += statSync(join(e.parentPath ?? e.path, e.name)).size;
  }
  return { count, bytes };
}

// The median time of `runs` saves into an empty folder; the last copy stays.
async function save(saver, url, folder, f) {
  const times = [];
  let ok = false;
  for (let i = 0; i < Number(runs); i++) {
    for (let t = 0; t < (saver.tries || 1); t++) {
      rmSync(folder, { recursive: true, force: true });
      mkdirSync(folder, { recursive: true });
      const [command, args] = saver.args(url, folder, f);
      const r = await run(command, args, (f.waitLimit + 120) * 1000);
      ok = r.code === 0 && files(folder).count > 0;
      if (ok) { times.push(r.ms); break; }
    }
  }
  times.sort((a, b) => a - b);
  return ok ? times[Math.floor(times.length / 2)] / 1000 : undefined;
}

const cells = (values) => values.join(' / ');
const built = join(work, 'apps');
await buildApps(built);
const server = await startServer(built);
const browser = Chromium.start(work);
try {
  console.log(`| Page | Likeness (${savers.map((s) => s.name).join(' / ')}) | Requests escaping the copy | Files | Bytes | Time s, median of ${runs} |`);
  console.log('|---|---|---|---|---|---|');
  for (const f of fixtures.filter((x) => !only.length || only.includes(x.name))) {
    const url = server.base + f.path;
    const online = await browser.shoot(url, { limitMs: shotLimit(f) });
    const row = { like: [], out: [], count: [], bytes: [], time: [] };
    for (const [i, saver] of savers.entries()) {
      const folder = join(work, f.name, String(i));
      const seconds = await save(saver, url, folder, f);
      if (seconds === undefined) {
        for (const k of Object.keys(row)) row[k].push('-');
        continue;
      }
      const copy = await browser.shoot(pathToFileURL(savedPage(join(folder, 'page.html'))).href,
        { offline: true, limitMs: shotLimit(f) });
      const { count, bytes } = files(folder);
      row.like.push(likeness(online.png, copy.png, work).toFixed(4));
      row.out.push(escaping(copy.requests).length);
      row.count.push(count);
      row.bytes.push(bytes);
      row.time.push(seconds.toFixed(2));
    }
    console.log(`| ${f.name} | ${cells(row.like)} | ${cells(row.out)} | ${cells(row.count)} | ${cells(row.bytes)} | ${cells(row.time)} |`);
  }
} finally {
  await browser.stop();
  await server.stop();
}
