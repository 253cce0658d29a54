// Each page that scripts build, saved with `qmsave page URL FILE --rendered --complete`: the
// wait must end for the reason the page gives (quiet, or the wait limit for a page that is
// never quiet), the copy opened from disk with the network refused must look like the page
// online (likeness of the screenshots at least 0.99) and send no request out, and an endless
// feed must stay bounded. Prints a table; a row whose expected failure passes fails, so that
// it is not forgotten.
// Usage: node check_rendered.mjs QMSAVE WORK-DIR
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { Chromium, escaping, likeness } from './chromium.mjs';
import { buildApps, doneBy, fixtures, inTurns, run, savedPage, shotLimit, startServer } from './fixtures.mjs';

const [qmsave, work] = process.argv.slice(2);
const kLeast = 0.99;
// An endless feed brings 10 entries a page; the save scrolls at most 8 times.
const kMostEntries = 200;

// A save into a folder of its own.
function save(server, f) {
  const folder = join(work, f.name);
  mkdirSync(folder, { recursive: true });
  return run(qmsave, ['page', server.base + f.path, join(folder, 'page.html'), '--rendered',
    '--complete', '--wait-limit', String(f.waitLimit)], (f.waitLimit + 60) * 1000);
}

async function check(browser, f, saved, online) {
  const folder = join(work, f.name);
  const stub = join(folder, 'page.html');
  const faults = [];
  if (saved.code !== 0) faults.push(`qmsave exited ${saved.code}: ${saved.stderr.trim().split('\n').pop()}`);
  const reason = doneBy(saved.stderr);
  if (reason !== f.reason) faults.push(`the wait ended at "${reason || 'no reason said'}", not at "${f.reason}"`);
  let like = 0, out = [];
  if (saved.code === 0 && existsSync(stub)) {
    const file = savedPage(stub);
    const copy = await browser.shoot(pathToFileURL(file).href, { offline: true, limitMs: shotLimit(f) });
    like = likeness(online.png, copy.png, folder);
    out = escaping(copy.requests);
    const entries = (readFileSync(file, 'utf8').match(/class="entry"/g) || []).length;
    if (f.bounded && (entries < 20 || entries > kMostEntries)) {
      faults.push(`${entries} entries, not 20 to ${kMostEntries}`);
    }
  }
  if (!online.quiet && f.reason === 'quiet') faults.push('the page online was not quiet in time');
  if (like < kLeast) faults.push(`likeness ${like.toFixed(4)} < ${kLeast}`);
  if (out.length) faults.push(`requests out of the copy: ${out.slice(0, 3).join(' ')}`);
  return { like, out: out.length, reason, faults };
}

const rows = [];
const built = join(work, 'apps');
await buildApps(built);
const server = await startServer(built);
const browser = Chromium.start(work);
try {
  // The pages online are shot while they are saved.
  const [saves, online] = await Promise.all([inTurns(fixtures, 2, (f) => save(server, f)),
    inTurns(fixtures, 1, (f) => browser.shoot(server.base + f.path, { limitMs: shotLimit(f) }))]);
  console.log('| Page | What it shows | Wait ended at | Likeness | Requests out of the copy | Result |');
  console.log('|---|---|---|---|---|---|');
  for (const [i, f] of fixtures.entries()) {
    const r = await check(browser, f, saves[i], online[i]);
    let verdict = r.faults.length ? 'FAIL: ' + r.faults.join('; ') : 'ok';
    if (f.expectedFailure) {
      verdict = r.faults.length ? `expected to fail (${f.expectedFailure}): ${r.faults.join('; ')}`
        : `FAIL: passes now, though expected to fail (${f.expectedFailure}): remove expectedFailure`;
    }
    rows.push({ f, failed: verdict.startsWith('FAIL') });
    console.log(`| ${f.name} | ${f.what} | ${r.reason || '-'} | ${r.like.toFixed(4)} | ${r.out} | ${verdict} |`);
  }
} finally {
  await browser.stop();
  await server.stop();
}
const failed = rows.filter((r) => r.failed).length;
const expected = rows.filter((r) => r.f.expectedFailure && !r.failed).length;
console.log(`rendered: ${rows.length - failed - expected} passed, ${failed} failed, ${expected} expected to fail`);
process.exit(failed ? 1 : 0);
