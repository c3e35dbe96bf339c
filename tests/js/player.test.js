// The album player's page script, its parts that need no page: settings, addresses, and
// which request gets which answer.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
require("./shared.js");
const player = require("../../player/player.js");

const link = "http://site.example/albums/a.swf";
const real = "http://cdn.example/real/a.swf"; // where the link redirected to

test("settings from a page's markup: bounded JSON objects only", () => {
  const near = { a: "x".repeat(65528) }; // 65536 characters as JSON
  const cases = [[null, null], ['{"quality":"low"}', { quality: "low" }], ["{bad", {}], ['"text"', null], ["42", null],
                 ["null", null], [JSON.stringify(near), near], [JSON.stringify({ a: "x".repeat(65529) }), null]];
  for (const [text, expected] of cases)
    assert.deepEqual(player.parseSettings(text), expected, String(text).slice(0, 20));
});

test("flags", () => {
  const cases = [["false", false], ["0", false], [" NO ", false], ["True", true], ["1", true], ["yes\n", true],
                 ["maybe", "else"], ["", "else"], [undefined, "else"], [1, "else"], [false, "else"]];
  for (const [value, expected] of cases)
    assert.equal(player.flag(value, "else"), expected, JSON.stringify(value));
});

test("a page's settings as the emulator's options, resolved against the movie's real address", () => {
  const plain = { menu: true, autoplay: "on" };
  const cases = [
    [{}, {}], [{ quality: " AutoLow ", scale: "NoBorder" }, { quality: "low", scale: "noBorder" }],
    [{ wmode: "Transparent" }, { wmode: "transparent" }],
    [{ quality: "ultra", scale: "stretch", wmode: "3d", allownetworking: "some" }, {}],
    [{ allownetworking: "internal" }, { allowNetworking: "internal" }], [{ salign: "TLBRx" }, { salign: "TLBR" }],
    [{ menu: "false", play: "0" }, { menu: false, autoplay: "off" }],
    [{ quality: 3, menu: 0, play: null, salign: 5, flashvars: {}, base: 1 }, {}],
    [{ bgcolor: "#FFcc00" }, { backgroundColor: "#FFcc00" }], [{ bgcolor: "336699" }, { backgroundColor: "#336699" }],
    [{ bgcolor: "red" }, {}], [{ bgcolor: "#fff" }, {}], [{ bgcolor: "#3366990" }, {}],
    [{ flashvars: "a=1&b=%20" }, { parameters: "a=1&b=%20" }],
    [{ base: "." }, { base: "http://cdn.example/real/" }], [{ base: "pics/" }, { base: "http://cdn.example/real/pics/" }],
    [{ base: "/root/" }, { base: "http://cdn.example/root/" }], [{ base: "http://[bad" }, {}],
    [{ base: "https://o.example/x" }, { base: "https://o.example/x" }],
  ];
  for (const [settings, expected] of cases)
    assert.deepEqual(player.embeddedOptions(settings, real), { ...plain, ...expected }, JSON.stringify(settings));
  const fixed = { allowScriptAccess: false, openUrlMode: "allow", allowFullscreen: false, menu: true };
  assert.deepEqual(player.loadOptions(real + "?v=2#top", null),
                   { url: real + "?v=2#top", base: "http://cdn.example/real/", ...fixed });
  // A movie in a page has ExternalInterface, whatever the page's markup says.
  assert.deepEqual(player.loadOptions(real, { base: "/up/", allowscriptaccess: "never" }),
                   { url: real, base: "http://cdn.example/up/", ...plain, ...fixed, allowScriptAccess: true });
});

// The page's fetch over a fake relay that answers everything alike.
const root = "http://127.0.0.1:4000/k3y/";
function fetcher() {
  const calls = [];
  const relayed = (url, init) => {
    calls.push({ url: url instanceof Request ? url.url : url, init });
    const headers = { "X-Relay-Url": "http://moved.example/", "X-Relay-Type": "text/plain; charset=gbk", "Set-Cookie": "a=b" };
    return Promise.resolve(new Response("relayed", { headers }));
  };
  return { calls, ...player.movieFetcher(relayed, root + "relay/s1", root + "ruffle/") };
}
const relayedUrl = (call) => new URL(call.url).searchParams.get("url");

test("the movie's own answer goes to the request for its address only, once", async () => {
  const cases = [
    [["http://site.example/data.xml", real, real], [false, true, false]], [[link], [true]],
    [["HTTP://CDN.example:80/real/a.swf#frame2"], [true]], [[real + "?again", link], [false, true]],
    [[["POST", real], real], [false, true]],
  ];
  for (const [asks, gets] of cases) {
    const f = fetcher();
    const movie = new Response("movie");
    f.movieArrived(movie, [link, real]);
    const got = [];
    for (const [method, url] of asks.map((a) => (Array.isArray(a) ? a : ["GET", a])))
      got.push((await f.fetch(url, { method, body: method === "POST" ? "x" : undefined })) === movie);
    assert.deepEqual(got, gets, JSON.stringify(asks));
    assert.deepEqual(f.calls.map(relayedUrl), asks.filter((_, i) => !gets[i]).map((a) => new URL([a].flat().pop()).href));
  }
});

test("requests go to the relay, their answers under their real address", async () => {
  const f = fetcher();
  const answer = await f.fetch("http://site.example/q?name=相册#x",
                               { method: "POST", body: "n=1", headers: { "Content-Type": "text/xml" } });
  const [call] = f.calls;
  assert.equal(call.url.split("?")[0], root + "relay/s1");
  assert.equal(new URL(call.url).searchParams.get("kind"), "load");
  assert.equal(relayedUrl(call), "http://site.example/q?name=%E7%9B%B8%E5%86%8C#x");
  assert.equal(new TextDecoder().decode(call.init.body), "n=1");
  assert.deepEqual([call.init.method, call.init.headers["X-Relay-Body-Type"], call.init.credentials, call.init.redirect],
                   ["POST", "text/xml", "omit", "error"]);
  assert.deepEqual([answer.url, answer.redirected, answer.headers.get("Content-Type"), answer.headers.get("Set-Cookie")],
                   ["http://moved.example/", true, "text/plain; charset=gbk", null]);
  await f.fetch(root + "ruffle/core.wasm");
  assert.equal(f.calls[1].url, root + "ruffle/core.wasm"); // the emulator's own files, straight
});

test("what the relay never sees: other schemes and methods, oversize bodies", async () => {
  const max = player.MaxBodyBytes;
  const refused = [["file:///etc/passwd"], ["data:,x"], ["ftp://site.example/a"], ["javascript:alert(1)"],
                   ["http://site.example/", { method: "PUT", body: "x" }], ["http://site.example/", { method: "DELETE" }],
                   ["http://site.example/", { method: "POST", body: new Uint8Array(max + 1) }]];
  for (const [url, init] of refused) {
    const f = fetcher();
    await assert.rejects(f.fetch(url, init), TypeError, url);
    assert.equal(f.calls.length, 0, url);
  }
  const f = fetcher();
  await f.fetch("http://site.example/", { method: "POST", body: new Uint8Array(max) });
  assert.equal(f.calls[0].init.body.byteLength, max);
});

test("a movie's new window: web addresses only, resolved where the movie is, never its own frame", () => {
  let where = link;
  const opened = [];
  const open = player.windowOpener((...args) => opened.push(args), () => where);
  const cases = [
    ["page.html", "_blank", "http://site.example/albums/page.html"], ["/top.html", "named", "http://site.example/top.html"],
    ["https://o.example/x?y#z", " _BLANK ", "https://o.example/x?y#z"], ["http://o.example/", 7, "http://o.example/"],
    ["p", "_self"], ["p", " _Top"], ["p", "_parent"], ["p", ""], ["p", undefined], ["p", null],
    ["javascript:alert(1)", "_blank"], ["file:///etc/passwd", "_blank"], ["mailto:a@b.example", "w"],
    ["data:text/html,x", "w"],
  ];
  for (const [url, target, expected] of cases) {
    opened.length = 0;
    assert.equal(open(url, target), null);
    assert.deepEqual(opened, expected ? [[expected, "_blank", "noopener,noreferrer"]] : [], `${url} ${target}`);
  }
  where = real; // it arrived from elsewhere
  open("page.html", "_blank");
  where = ""; // no address of its own
  open("page.html", "_blank");
  assert.deepEqual(opened.map((o) => o[0]), ["http://cdn.example/real/page.html"]);
});

test("the emulator's clock moves on by one frame interval per header, whatever the rate, bounded", () => {
  let now = 1000;
  const frames = [];
  const win = { requestAnimationFrame: (cb) => frames.push(cb), performance: { now: () => now } };
  const clock = player.emulatorClock(win);
  const seen = () => { let t; win.requestAnimationFrame((time) => { t = time; }); frames.shift()(now); return t; };
  const cases = [[4, 250], [30, 1000 / 30], [0, 0], [NaN, 0], [-5, 0], [Infinity, 0], [1 / 256, 10000]];
  let ahead = 0;
  for (const [rate, interval] of cases) {
    clock.frameRateKnown(rate);
    ahead += interval;
    now += 16;
    assert.equal(seen(), now + ahead, String(rate));
    assert.equal(win.performance.now(), now + ahead, String(rate));
  }
});

test("one player's loads hold at most four connections; the rest wait until an answer is read, dropped or still", async () => {
  const pending = [];
  const slow = (url) => new Promise((resolve) => pending.push({ url, resolve }));
  const timers = { setTimeout: (f, ms) => (ms === 30000 ? (timers.still.push(f), timers.still.length) : setTimeout(f, ms)),
                   clearTimeout: () => {}, still: [] };
  const f = player.movieFetcher(slow, root + "relay/s1", root + "ruffle/", timers);
  const answers = [1, 2, 3, 4, 5, 6, 7].map((n) => f.fetch("http://site.example/" + n));
  await new Promise((r) => setTimeout(r, 10));
  assert.equal(pending.length, player.MaxLoadsAtOnce);
  const respond = (i, init) => pending[i].resolve(new Response(init && init.status ? null : "x", init));
  respond(0);
  await (await answers[0]).text(); // read to its end: its place goes to the fifth
  respond(1, { status: 403 });     // refused: nothing to read
  await answers[1];
  await new Promise((r) => setTimeout(r, 10));
  assert.equal(pending.length, 6);
  respond(2);
  await (await answers[2]).body.cancel(); // dropped
  await new Promise((r) => setTimeout(r, 10));
  assert.equal(pending.length, 7);
  assert.equal(f.loadsUnderway(), 4);
  respond(3);
  await answers[3]; // never read: its place goes once it has stood still
  timers.still.forEach((g) => g());
  assert.equal(f.loadsUnderway(), 3);
});

test("the load watch calls the window's timers as the window's own, as browsers require", async () => {
  const own = globalThis.setTimeout;
  globalThis.setTimeout = function (f, ms) {
    if (this !== undefined && this !== globalThis)
      throw new TypeError("Illegal invocation");
    return own(f, ms);
  };
  try {
    const f = player.movieFetcher(() => Promise.resolve(new Response("x")), root + "relay/s1", root + "ruffle/");
    assert.equal(await (await f.fetch("http://site.example/a")).text(), "x");
  } finally {
    globalThis.setTimeout = own;
  }
});

test("the loading line: sizes once there is a kilobyte to tell, and only what fits on one line", () => {
  const words = "正在载入动画…";
  const fitsIn = (n) => (line) => line.length <= n;
  const cases = [[0, 300, 99, "正在载入动画… 0%"], [12000, 40000, 99, "正在载入动画… 30%（12 kB / 40 kB）"],
                 [12000, 40000, 12, "正在载入动画… 30%"], [12000, 40000, 5, "30%"], [12000, 40000, 1, "30%"],
                 [0, 0, 99, "正在载入动画…"], [2500000, 0, 99, "正在载入动画… 2.5 MB"], [500, 0, 99, "正在载入动画…"]];
  for (const [received, total, room, line] of cases)
    assert.equal(player.progressLabel(words, received, total, fitsIn(room)), line, `${received}/${total} in ${room}`);
});

test("the movie's menu: its own entries first, the emulator's after in plain words, bounded; a person's asking only", async () => {
  const list = [{ caption: "播放", enabled: true, checked: true }, { caption: "后退", enabled: false }, { caption: "返回" },
                { caption: " 翻\u0007页 ", separatorBefore: true }, { caption: "" }, null, { caption: "x".repeat(300) }];
  assert.deepEqual(player.menuEntries(list).map((e) => [e.index, e.text.length > 20 ? e.text.length : e.text, e.enabled, e.separator]),
                   [[3, "翻 页", true, true], [6, 100, true, false], [0, "播放", true, true], [1, "倒带", false, false],
                    [2, "后退", true, false]]);
  assert.equal(player.menuEntries(Array.from({ length: 99 }, () => ({ caption: "a" }))).length, 40);
  assert.deepEqual(player.menuEntries([{ caption: "全选" }].concat(list), true).map((e) => e.text).slice(-1), ["全选"]);
  assert.equal(player.menuEntries(list, true).length, 2); // a page's menu=false: the movie's own

  const listeners = {};
  const win = { innerWidth: 200, innerHeight: 100, addEventListener: (type, f) => { listeners[type] = f; } };
  const done = [];
  let asked = null;
  const emulator = { menu: () => list, choose: (i) => done.push("chose " + i), closed: () => done.push("closed") };
  player.movieMenu(win, emulator, (menu) => { asked = menu; return Promise.resolve(menu.entries[0].index === 3 ? "1" : "-1"); });
  const event = (extra) => Object.assign({ isTrusted: true, preventDefault() {}, stopImmediatePropagation() {} }, extra);
  listeners.contextmenu(event({ isTrusted: false, button: 2 }));
  assert.equal(asked, null);
  listeners.pointermove(event({ screenX: 110, clientX: 10, screenY: 220, clientY: 20 }));
  listeners.keydown(event({ key: "F10", shiftKey: true }));
  await new Promise((resolve) => setImmediate(resolve));
  assert.equal(asked.byKey, true);
  assert.deepEqual(asked.at, [200, 250]);
  assert.deepEqual(done, ["closed"]); // a disabled entry is never chosen, and the movie goes on
});

test("a frame's proof is traded for its session, asked again while the program has not heard of it yet", async () => {
  const answers = [404, 404, [200, " 0123abcd\n"]];
  const asked = [];
  const trade = player.handoverTrader((url) => {
    asked.push(url);
    const a = answers.shift() || 404;
    return Promise.resolve(Array.isArray(a) ? new Response(a[1], { status: a[0] }) : new Response("", { status: a }));
  }, new URL("http://127.0.0.1:4000/k3y/"), () => Promise.resolve());
  assert.equal(await trade("h1", "p&1"), "0123abcd");
  assert.equal(asked[0], "http://127.0.0.1:4000/k3y/handover/h1?proof=p%261");
  answers.push([200, "<script>"]);
  assert.equal(await trade("h1", "p"), "");
  assert.equal(await trade("h1", "p"), ""); // four tries, then none
});
