// The server of the pages that scripts build: static files, and the endpoints their scripts
// call. Listens on 127.0.0.1 and prints "port N" on its first line of output; ends when its
// standard input closes (so it never outlives the process that started it) or on SIGTERM.
//   /build/...          files of BUILD-DIR (the React and Vue apps, built by Vite)
//   /api/items          a JSON list, answered after 200 ms
//   /api/feed?page=N    the Nth page of an endless feed, as JSON
//   /api/events         an event stream (text/event-stream): three events, then held open
//   /api/beacon         takes a beacon (POST), answers 204
//   anything else       files of FIXTURES-DIR
// Usage: node server.mjs FIXTURES-DIR BUILD-DIR [PORT]
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { extname, join, normalize, sep } from 'node:path';

const [fixtures, built, port = '0'] = process.argv.slice(2);
if (!fixtures || !built) {
  console.error('usage: node server.mjs FIXTURES-DIR BUILD-DIR [PORT]');
  process.exit(2);
}

const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8',
  '.json': 'application/json', '.svg': 'image/svg+xml', '.png': 'image/png',
  '.ico': 'image/x-icon',
};

const fruits = ['Apricot', 'Blackberry', 'Cherry', 'Damson', 'Elderberry', 'Fig', 'Gooseberry',
  'Huckleberry'];
const items = fruits.map((name, i) => ({ id: i + 1, name, stock: (i * 7) % 11 }));

const json = (res, value) => {
  res.writeHead(200, { 'content-type': 'application/json', 'cache-control': 'no-store' });
  res.end(JSON.stringify(value));
};

const api = {
  '/api/items': (req, res) => setTimeout(() => json(res, items), 200),
  '/api/feed': (req, res, url) => {
    const page = Math.max(0, Math.min(1e6, Number(url.searchParams.get('page')) || 0));
    json(res, Array.from({ length: 10 }, (_, i) => `Entry ${page * 10 + i + 1}`));
  },
  '/api/events': (req, res) => {
    res.writeHead(200, { 'content-type': 'text/event-stream', 'cache-control': 'no-store' });
    ['first', 'second', 'third'].forEach((word, i) =>
      setTimeout(() => res.write(`data: the ${word} event\n\n`), 100 * i));
    // Held open until the page goes away.
  },
  '/api/beacon': (req, res) => {
    req.resume();
    req.on('end', () => { res.writeHead(204); res.end(); });
  },
};

async function file(res, root, path) {
  const full = normalize(join(root, decodeURIComponent(path)));
  if (!(full + sep).startsWith(normalize(root + sep))) return notFound(res);
  let target = full;
  try {
    if ((await stat(target)).isDirectory()) target = join(target, 'index.html');
    const body = await readFile(target);
    res.writeHead(200, { 'content-type': types[extname(target)] || 'application/octet-stream' });
    res.end(body);
  } catch {
    notFound(res);
  }
}

function notFound(res) {
  res.writeHead(404, { 'content-type': 'text/plain' });
  res.end('not found\n');
}

const server = createServer((req, res) => {
  const url = new URL(req.url, 'http://127.0.0.1');
  const handler = api[url.pathname];
  if (handler) return handler(req, res, url);
  if (url.pathname.startsWith('/build/')) return file(res, built, url.pathname.slice(7));
  return file(res, fixtures, url.pathname);
});

const stop = () => { server.closeAllConnections(); server.close(); process.exit(0); };
process.on('SIGTERM', stop);
process.stdin.on('end', stop).resume();
server.listen(Number(port), '127.0.0.1', () => {
  console.log(`port ${server.address().port}`);
});
