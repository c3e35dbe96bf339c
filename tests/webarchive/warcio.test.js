// Our web-archive files against the archivists' reader and writer (warcio): what we
// write they read, with the same index; what they write we read. The tool that runs our
// side is named by WEBARCHIVE_TOOL (the ctest entry sets it).
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const crypto = require("node:crypto");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");
const { execFileSync } = require("node:child_process");
const { WARCParser, WARCRecord, WARCSerializer, CDXIndexer } = require("warcio");

const tool = process.env.WEBARCHIVE_TOOL;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "warcio-"));
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));
const run = (args, input) => execFileSync(tool, args, { input, maxBuffer: 1 << 26 }).toString();
const sha256 = (data) => crypto.createHash("sha256").update(data).digest("hex");

const answers = [
  { url: "http://www.site.example/index.html?b=2&a=1", date: "2009-05-06T07:08:09Z", status: 200, reason: "OK",
    headers: [["Content-Type", "text/html; charset=gb2312"], ["Transfer-Encoding", "chunked"], ["Content-Length", "1"]],
    payload: Buffer.from("<html>邮票</html>") },
  { url: "https://site.example:8443/a/movie.swf", date: "2010-01-02T03:04:05Z", status: 404, reason: "Not Found",
    headers: [["Content-Type", "application/x-shockwave-flash"], ["Content-Encoding", "gzip"]],
    payload: crypto.randomBytes(70000) },
  { url: "http://site.example/empty", date: "2011-11-11T11:11:11Z", status: 204, reason: "No Content",
    headers: [], payload: Buffer.alloc(0) },
];
const ourWarc = path.join(dir, "ours.warc.gz");
run(["write", ourWarc], answers.map((a) => JSON.stringify({ ...a, payload: a.payload.toString("base64") })).join("\n"));

async function records(bytes, options = {}) {
  const out = [];
  for await (const record of new WARCParser([bytes], options)) {
    await record.readFully(false);
    out.push(record);
  }
  return out;
}

// What warcio's own indexer makes of a file: its CDXJ lines.
async function warcioIndex(file) {
  const lines = [];
  const indexer = new CDXIndexer({ format: "cdxj" });
  for await (const cdx of indexer.iterIndex([{ filename: path.basename(file), reader: fs.createReadStream(file) }]))
    lines.push(indexer.serializeCDXJ(cdx).trimEnd());
  return lines;
}

test("warcio reads every record we write: types, addresses, dates, digests", async () => {
  const recs = await records(fs.readFileSync(ourWarc));
  assert.deepEqual(recs.map((r) => r.warcType), ["warcinfo", "response", "request", "response", "request", "response", "request"]);
  assert.equal(recs[0].warcHeaders.protocol, "WARC/1.1");
  assert.match(new TextDecoder().decode(recs[0].payload), /software: photoforKP 1.00\r\nformat: WARC File Format 1.1/);
  answers.forEach((a, i) => {
    const response = recs[1 + 2 * i], request = recs[2 + 2 * i];
    assert.equal(response.warcTargetURI, a.url);
    assert.equal(response.warcDate, a.date);
    assert.equal(response.httpHeaders.statusCode, a.status);
    assert.equal(response.warcPayloadDigest, "sha256:" + sha256(response.payload));
    assert.deepEqual(Buffer.from(response.payload), a.payload);
    assert.equal(response.httpHeaders.headers.get("content-length"), String(a.payload.length));
    assert.equal(response.httpHeaders.headers.get("transfer-encoding"), null);
    assert.match(response.warcHeader("WARC-Record-ID"), /^<urn:uuid:[0-9a-f-]{36}>$/);
    assert.equal(request.warcHeader("WARC-Concurrent-To"), response.warcHeader("WARC-Record-ID"));
    assert.equal(request.warcTargetURI, a.url);
    assert.equal(request.httpHeaders.method, "GET");
  });
});

test("the block digests cover the blocks as warcio reads them", async () => {
  const recs = await records(fs.readFileSync(ourWarc), { parseHttp: false });
  assert.equal(recs.length, 7);
  for (const record of recs.slice(1))
    assert.equal(record.warcBlockDigest, "sha256:" + sha256(record.payload));
});

test("our index is warcio's, and its offsets point at the records", async () => {
  const ours = run(["index", ourWarc]).trim().split("\n");
  assert.deepEqual(ours, await warcioIndex(ourWarc));
  const bytes = fs.readFileSync(ourWarc);
  for (const line of ours) {
    const json = JSON.parse(line.slice(line.indexOf("{")));
    const [record] = await records(bytes.subarray(Number(json.offset), Number(json.offset) + Number(json.length)));
    assert.equal(record.warcType, "response");
    assert.equal(record.warcTargetURI, json.url);
  }
});

async function warcioWrites(file, gzip) {
  const parts = [];
  const info = WARCRecord.createWARCInfo({ filename: path.basename(file), warcVersion: "WARC/1.0" }, { software: "warcio" });
  parts.push(await WARCSerializer.serialize(info, { gzip }));
  const made = [
    { url: "http://www.site.example/page.html", date: "2008-02-03T04:05:06Z", statusline: "HTTP/1.1 200 OK",
      httpHeaders: { "Content-Type": "text/html" }, body: "<p>page</p>" },
    { url: "http://site.example/moved", date: "2008-02-03T04:05:07Z", statusline: "HTTP/1.0 301 Moved Permanently",
      httpHeaders: { Location: "http://site.example/page.html" }, body: "" },
    { url: "http://site.example/chunked", date: "2008-02-03T04:05:08Z", statusline: "HTTP/1.1 200 OK",
      httpHeaders: { "Transfer-Encoding": "chunked", "Content-Type": "text/plain" }, body: "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n" },
  ];
  for (const m of made) {
    const record = WARCRecord.create({ url: m.url, date: m.date, type: "response", warcVersion: "WARC/1.0",
                                       statusline: m.statusline, httpHeaders: m.httpHeaders },
                                     [new TextEncoder().encode(m.body)]);
    parts.push(await WARCSerializer.serialize(record, { gzip }));
  }
  fs.writeFileSync(file, Buffer.concat(parts));
}

for (const gzip of [true, false]) {
  test(`a WARC warcio writes (${gzip ? ".warc.gz" : ".warc"}) opens here, with its answers`, async () => {
    const file = path.join(dir, gzip ? "theirs.warc.gz" : "theirs.warc");
    await warcioWrites(file, gzip);
    const get = (url) => JSON.parse(run(["get", file, url, "2009-01-01T00:00:00Z"]));
    const page = get("http://site.example/page.html");
    assert.equal(page.status, 200);
    assert.equal(page.date, "2008-02-03T04:05:06Z");
    assert.equal(Buffer.from(page.payload, "base64").toString(), "<p>page</p>");
    const moved = get("http://site.example/moved");
    assert.equal(moved.status, 301);
    assert.deepEqual(moved.headers.find(([n]) => n.toLowerCase() === "location"), ["Location", "http://site.example/page.html"]);
    const chunked = get("http://site.example/chunked");
    assert.equal(Buffer.from(chunked.payload, "base64").toString(), "hello world");
    assert.equal(chunked.headers.find(([n]) => n.toLowerCase() === "transfer-encoding"), undefined);
    assert.deepEqual(run(["index", file]).trim().split("\n"), await warcioIndex(file));
  });
}

// A ZIP's entries from its central directory (no ZIP64 needed at these sizes).
function unzip(bytes) {
  const end = bytes.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  const count = bytes.readUInt16LE(end + 10);
  let at = bytes.readUInt32LE(end + 16);
  const entries = new Map();
  for (let i = 0; i < count; ++i) {
    assert.equal(bytes.readUInt32LE(at), 0x02014b50);
    const method = bytes.readUInt16LE(at + 10), packed = bytes.readUInt32LE(at + 20), size = bytes.readUInt32LE(at + 24);
    const nameLength = bytes.readUInt16LE(at + 28), extra = bytes.readUInt16LE(at + 30), comment = bytes.readUInt16LE(at + 32);
    const local = bytes.readUInt32LE(at + 42);
    const name = bytes.subarray(at + 46, at + 46 + nameLength).toString();
    const dataStart = local + 30 + bytes.readUInt16LE(local + 26) + bytes.readUInt16LE(local + 28);
    const raw = bytes.subarray(dataStart, dataStart + packed);
    entries.set(name, { method, data: method === 0 ? raw : zlib.inflateRawSync(raw) });
    assert.equal(entries.get(name).data.length, size);
    at += 46 + nameLength + extra + comment;
  }
  return entries;
}

test("our WACZ follows wacz 1.1.1: stored WARC, digests, sorted index, pages", async () => {
  const pages = path.join(dir, "pages.jsonl");
  fs.writeFileSync(pages, JSON.stringify({ url: answers[0].url, ts: answers[0].date, title: "邮票鉴赏" }) + "\n");
  const wacz = path.join(dir, "copy.wacz");
  run(["wacz", wacz, ourWarc, pages]);
  const entries = unzip(fs.readFileSync(wacz));
  assert.deepEqual([...entries.keys()].sort(),
                   ["archive/data.warc.gz", "datapackage-digest.json", "datapackage.json", "indexes/index.cdxj", "pages/pages.jsonl"]);
  assert.equal(entries.get("archive/data.warc.gz").method, 0);
  const warc = entries.get("archive/data.warc.gz").data;
  assert.deepEqual(warc, fs.readFileSync(ourWarc));

  const pkg = JSON.parse(entries.get("datapackage.json").data);
  assert.equal(pkg.profile, "data-package");
  assert.equal(pkg.wacz_version, "1.1.1");
  assert.ok(!Number.isNaN(Date.parse(pkg.created)));
  assert.deepEqual(pkg.resources.map((r) => r.path).sort(), ["archive/data.warc.gz", "indexes/index.cdxj", "pages/pages.jsonl"]);
  for (const r of pkg.resources) {
    assert.equal(r.name, path.basename(r.path));
    assert.equal(r.hash, "sha256:" + sha256(entries.get(r.path).data));
    assert.equal(r.bytes, entries.get(r.path).data.length);
  }
  const digest = JSON.parse(entries.get("datapackage-digest.json").data);
  assert.deepEqual(digest, { path: "datapackage.json", hash: "sha256:" + sha256(entries.get("datapackage.json").data) });

  const lines = entries.get("indexes/index.cdxj").data.toString().trim().split("\n");
  const sorted = [...lines].sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)));
  assert.deepEqual(lines, sorted);
  assert.deepEqual(new Set(lines), new Set((await warcioIndex(ourWarc)).map((l) => l.replace('"ours.warc.gz"', '"data.warc.gz"'))));
  for (const line of lines) {
    const json = JSON.parse(line.slice(line.indexOf("{")));
    const [record] = await records(warc.subarray(Number(json.offset), Number(json.offset) + Number(json.length)));
    assert.equal(record.warcTargetURI, json.url);
  }

  const pageLines = entries.get("pages/pages.jsonl").data.toString().trim().split("\n").map((l) => JSON.parse(l));
  assert.deepEqual(pageLines, [{ format: "json-pages-1.0", id: "pages", title: "All Pages" },
                               { url: answers[0].url, ts: answers[0].date, title: "邮票鉴赏" }]);
  const got = JSON.parse(run(["get", wacz, answers[1].url, answers[1].date]));
  assert.deepEqual(Buffer.from(got.payload, "base64"), answers[1].payload);
});
