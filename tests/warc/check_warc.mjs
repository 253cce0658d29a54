// Reads a web archive written by qmsave back with warcio.js, a reader of the field written
// elsewhere, and checks it against the save: every record's digests, the records' links to
// each other, and for every item the save reported, a response whose payload, decoded, is the
// file the site served (and, for an item saved as it came, the saved file).
// With an INDEX, the CDXJ index written beside the archive must be the one warcio.js makes of
// it.
// Usage: node check_warc.mjs ARCHIVE QMSAVE-STDERR SITE-URL SITE-FOLDER [INDEX]
import { createHash } from "node:crypto";
import { createReadStream, readFileSync } from "node:fs";
import { basename } from "node:path";
import { CDXIndexer, WARCParser } from "warcio";

const [archive, said, siteUrl, siteFolder, index] = process.argv.slice(2);
let passed = 0;
let failed = 0;
function check(what, ok) {
  if (ok) {
    passed++;
  } else {
    failed++;
    console.log(`FAIL ${what}`);
  }
}

function base32(bytes) {
  const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let out = "", bits = 0, value = 0;
  for (const b of bytes) {
    value = (value << 8) | b;
    bits += 8;
    while (bits >= 5) {
      out += digits[(value >>> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  if (bits > 0) out += digits[(value << (5 - bits)) & 31];
  while (out.length % 8) out += "=";
  return out;
}
const sha1 = (bytes) => "sha1:" + base32(createHash("sha1").update(bytes).digest());

async function records(parseHttp) {
  const parser = new WARCParser(createReadStream(archive), { parseHttp });
  const list = [];
  for await (const record of parser) {
    const entry = { record, headers: record.warcHeaders.headers };
    if (parseHttp && record.httpHeaders) {
      entry.raw = await record.readFully(false);
      entry.decoded = await record.readFully(true);
    } else {
      entry.block = await record.readFully();
    }
    list.push(entry);
  }
  return list;
}

// Whole blocks first, then the same records with their HTTP messages read.
const blocks = await records(false);
const messages = await records(true);
check("the archive holds records", blocks.length > 1 && blocks.length === messages.length);
check("a warcinfo record opens it", blocks[0]?.record.warcType === "warcinfo");

const ids = new Map();
for (const { record, headers, block } of blocks) {
  const id = headers.get("WARC-Record-ID");
  ids.set(id, record.warcType);
  check(`${id}: WARC/1.1`, record.warcHeaders.protocol === "WARC/1.1");
  check(`${id}: a date in UTC`, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/.test(record.warcDate));
  check(`${id}: a urn:uuid id`, /^<urn:uuid:[0-9a-f-]{36}>$/.test(id));
  check(`${id}: its block digest`, headers.get("WARC-Block-Digest") === sha1(block));
  check(`${id}: its length`, Number(headers.get("Content-Length")) === block.length);
}

const responses = new Map();  // target URI -> response entries, in order
let codedAndChunked = 0;
for (const entry of messages) {
  const { record, headers, raw } = entry;
  const id = headers.get("WARC-Record-ID");
  if (record.warcType !== "request" && record.warcType !== "response") continue;
  check(`${id}: a target URI`, !!record.warcTargetURI);
  check(`${id}: its payload digest`, headers.get("WARC-Payload-Digest") === sha1(raw));
  const other = record.warcType === "request" ? "response" : "request";
  const concurrent = record.warcConcurrentTo;
  check(`${id}: concurrent to its ${other}`,
        concurrent.length === 0 ? record.warcType === "request"
                                : concurrent.every((c) => ids.get(c) === other));
  if (record.warcType === "response") {
    if (!responses.has(record.warcTargetURI)) responses.set(record.warcTargetURI, []);
    responses.get(record.warcTargetURI).push(entry);
    const h = record.httpHeaders.headers;
    if (h.get("Content-Encoding") === "gzip" && h.get("Transfer-Encoding") === "chunked")
      codedAndChunked++;
  }
}
check("responses are stored as they came, chunked and gzip'd", codedAndChunked > 0);

// The items qmsave reported: "   N  KIND URL -> FILE".
const kindsAsTheyCame = new Set(["picture", "script", "font", "media"]);
const items = said.length ? readFileSync(said, "latin1").split(/\r?\n/)
  .map((line) => line.match(/^\s*\d+ {2}(.{11}) (\S+) -> (.+)$/))
  .filter(Boolean)
  .map(([, kind, url, file]) => ({ kind: kind.trim(), url, file: file.replace(/^Z:/i, "").replace(/\\/g, "/") }))
  : [];
check("the save reported items", items.length > 0);

// The response that gave an item's body: the last of its redirects.
function bodyOf(url) {
  for (let hop = 0; hop <= 5; hop++) {
    const found = responses.get(url);
    if (!found) return null;
    const { record } = found[found.length - 1];
    const status = record.httpHeaders.statusCode;
    if (status < 300 || status >= 400) return found[found.length - 1];
    url = new URL(record.httpHeaders.headers.get("Location"), url).href;
  }
  return null;
}

for (const { kind, url, file } of items) {
  const entry = bodyOf(url);
  check(`${url}: has its response record`, entry !== null);
  if (!entry) continue;
  const decoded = Buffer.from(entry.decoded);
  const finalUrl = entry.record.warcTargetURI;
  if (finalUrl.startsWith(siteUrl)) {
    const served = readFileSync(siteFolder + "/" + decodeURIComponent(
      finalUrl.slice(siteUrl.length).replace(/[?#].*$/, "")));
    check(`${url}: the payload, decoded, is the file served`, decoded.equals(served));
  }
  if (kindsAsTheyCame.has(kind))
    check(`${url}: the payload, decoded, is the saved file`, decoded.equals(readFileSync(file)));
}

if (index) {
  const indexer = new CDXIndexer({ format: "cdxj" });
  const made = [];
  for await (const entry of indexer.iterIndex([
    { filename: basename(archive), reader: createReadStream(archive) },
  ]))
    made.push(indexer.serialize(entry).trimEnd());
  const written = readFileSync(index, "utf8").split("\n").filter((line) => line);
  check("the index has a line per response", written.length === made.length);
  check("the index is sorted", written.every((line, i) => i === 0 || written[i - 1] <= line));
  const expected = new Set(made);
  for (const line of written) check(`index line as warcio.js makes it: ${line}`, expected.has(line));
}

console.log(`warcio read ${blocks.length} records back; ${items.length} items saved`);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
