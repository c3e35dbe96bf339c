// The finder of Flash movies in web pages: which elements are movies, their addresses and
// settings, and how many of a document play.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
require("./shared.js");
const { isFlashObject, isFlashEmbed, settingsOf, movieOf, finder, lookWhenTold, mayScript, scriptAccess } =
  require("../../viewers/flashembed.js");
const PageData = require("../../player/pagedata.js");
globalThis.PageData = PageData; // as the program puts it before the finder
// Node's ports keep the test alive once listened to; a page's die with it.
globalThis.MessageChannel = class extends MessageChannel {
  constructor() {
    super();
    for (const port of [this.port1, this.port2])
      Object.defineProperty(port, "onmessage", { set(f) { port.addEventListener("message", f); port.start(); port.unref(); } });
  }
};
const MaxMovies = 16;

// Just enough of a document: elements with attributes (names without case, as in HTML)
// and children, and links that resolve against the page.
const page = "http://site.example/pages/cards.html";
class Element {
  constructor(localName, attributes = {}, children = []) {
    Object.assign(this, { localName, children, parentElement: null, isConnected: true,
                          style: { setProperty(name, value) { this[name] = value; } } });
    this.map = new Map(Object.entries(attributes).map(([n, v]) => [n.toLowerCase(), v]));
    children.forEach((c) => { c.parentElement = this; });
  }
  getAttribute(name) { return this.map.get(name.toLowerCase()) ?? null; }
  hasAttribute(name) { return this.map.has(name.toLowerCase()); }
  setAttribute(name, value) { this.map.set(name.toLowerCase(), String(value)); }
  get attributes() { return Array.from(this.map, ([name, value]) => ({ name, value })); }
  get href() {
    const h = this.getAttribute("href");
    return URL.canParse(h, page) ? new URL(h, page).href : h;
  }
  querySelectorAll(selector) {
    const out = [];
    const walk = (e) => e.children.forEach((c) => { if (selector.split(",").includes(c.localName)) out.push(c); walk(c); });
    walk(this);
    return out;
  }
  querySelector(selector) { return this.querySelectorAll(selector)[0] || null; }
  get ownerDocument() { return doc; }
  closest(name) { return this.localName === name ? this : this.parentElement && this.parentElement.closest(name); }
  after(other) { this.replacedBy = other; }
  addEventListener() {}
}
const el = (name, attributes, children) => new Element(name, attributes, children);
const param = (name, value) => el("param", { name, value });
const doc = { baseURI: page, URL: page, createElement: (name) => el(name), defaultView: null };

const FlashClassId = "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000";
const FlashType = "application/x-shockwave-flash";

test("which elements are Flash movies", () => {
  const cases = [
    ["object", { classid: FlashClassId.toUpperCase() }, true], ["object", { classid: ` ${FlashClassId} ` }, true],
    ["object", { type: "Application/X-Shockwave-Flash" }, true], ["embed", { type: " APPLICATION/x-shockwave-flash" }, true],
    ["embed", { src: "movies/a.SWF" }, true], ["embed", { src: "/a.swf?card=3#top" }, true],
    ["embed", { src: "http://o.example/a.swf" }, true],
    ["object", { classid: "clsid:166b1bca-3f9c-11cf-8075-444553540000" }, false], // Shockwave Director
    ["object", { type: "image/svg+xml", data: "a.swf" }, false], ["object", { data: "a.swf" }, false],
    ["object", { src: "a.swf" }, false],
    ["embed", { src: "a.swf.html" }, false], ["embed", { src: "show.php?file=a.swf" }, false],
    ["embed", { src: "a.swf", type: "video/mp4" }, false], ["embed", {}, false], ["embed", { classid: FlashClassId }, false],
  ];
  for (const [name, attributes, expected] of cases) {
    const element = el(name, attributes);
    assert.equal(isFlashObject(element) || isFlashEmbed(element), expected, `${name} ${JSON.stringify(attributes)}`);
  }
});

test("a movie's address, as the page names it; web addresses only", () => {
  const cases = [
    [el("embed", { src: "movies/a.swf" }), "http://site.example/pages/movies/a.swf"],
    [el("embed", { src: "/a.swf" }), "http://site.example/a.swf"],
    [el("embed", { src: "HTTPS://o.example/a.swf" }), "https://o.example/a.swf"],
    [el("object", { data: "b.swf" }, [param("movie", "c.swf")]), "http://site.example/pages/b.swf"],
    [el("object", {}, [param("Movie", "c.swf")]), "http://site.example/pages/c.swf"],
    [el("object", {}, [param("src", "/d.swf")]), "http://site.example/d.swf"],
    [el("object", {}, [el("embed", { src: "e.swf" })]), "http://site.example/pages/e.swf"],
    [el("object", {}, [el("object", {}, [param("movie", "inner.swf")])]), null], [el("object", {}), null],
    [el("embed", { src: "javascript:alert(1)" }), null], [el("embed", { src: "file:///home/a.swf" }), null],
    [el("embed", { src: "data:application/x-shockwave-flash;base64,RldT" }), null],
    [el("embed", { src: "ftp://site.example/a.swf" }), null],
  ];
  for (const [element, expected] of cases)
    assert.equal(movieOf(element), expected, JSON.stringify(element.attributes));
});

test("a movie's settings: known names, first told wins, values bounded", () => {
  const cases = [
    [el("embed", { src: "a.swf", width: "300", Quality: "High", FlashVars: "a=1", allowScriptAccess: "always" }),
     { quality: "High", flashvars: "a=1", allowscriptaccess: "always" }],
    [el("object", { classid: FlashClassId, wmode: "gpu" }, [
      param("movie", "a.swf"), param(" WMODE ", "transparent"), el("param", { name: "menu" }),
      el("embed", { src: "a.swf", wmode: "opaque", menu: "false", play: "false" })]),
     { wmode: "transparent", menu: "false", play: "false" }],
    [el("object", {}, [el("object", {}, [param("scale", "noscale")])]), {}],
    [el("embed", { flashvars: "x".repeat(5000), base: "é".repeat(4097) }),
     { flashvars: "x".repeat(4096), base: "é".repeat(4096) }],
  ];
  for (const [element, expected] of cases)
    assert.deepEqual(settingsOf(element), expected);
});

test("no more than its limit of movies a document, each once, an <embed> in an <object> as one", () => {
  const asked = [];
  const found = finder(doc, (movie, from) => asked.push([movie, from]), MaxMovies);
  const first = el("embed", { src: "seen-first.swf" });
  el("object", { type: FlashType }, [first]);
  found.scan(first); // before its <object>
  const inner = el("embed", { src: "inner.swf" });
  const both = el("object", { classid: FlashClassId, data: "outer.swf" }, [inner]);
  found.scan(el("div", {}, [both, el("embed", { src: "nothing.txt" }), el("embed", { type: FlashType })]));
  found.scan(inner);
  found.play(both);
  assert.deepEqual(asked, [["http://site.example/pages/outer.swf", page]]);
  found.scan(el("body", {}, Array.from({ length: MaxMovies + 4 }, (_, i) => el("embed", { src: `m${i}.swf` }))));
  assert.deepEqual([asked.length, asked.at(-1)[0]], [MaxMovies, "http://site.example/pages/m14.swf"]);
});

test("a movie's frame: the bare player, then its proof, movie and settings by message to it alone", () => {
  const player = { url: "http://127.0.0.1:4000/k3y/player.html?handover=h1", proof: "p1", movie: "http://site.example/pages/a.swf" };
  const cases = [[{ base: "." }, { base: "." }], [{ base: "flash/" }, { base: "http://site.example/pages/flash/" }],
                 [{ base: "javascript:void(0)" }, {}], [{}, null, null], [{}, null, { url: 42 }],
                 [{}, null, player, "gone"]];
  let listeners = [];
  doc.defaultView = {
    addEventListener: (type, f) => listeners.push(f),
    removeEventListener: (type, f) => { listeners = listeners.filter((g) => g !== f); },
  };
  const fire = (event) => listeners.slice().forEach((f) => f(event));
  for (const [attributes, settings, answer = player, gone] of cases) {
    listeners = [];
    const movie = el("embed", { src: "a.swf", id: "card", onclick: "steal()", ...attributes });
    finder(doc, (m, from, then) => { movie.isConnected = !gone; then(answer); }, MaxMovies).play(movie);
    const frame = movie.replacedBy;
    if (!settings) {
      assert.equal(frame, undefined);
      continue;
    }
    assert.equal(frame.src, player.url); // nothing the page could use
    // The element stays, for the page's scripts, with its id and name its own.
    assert.deepEqual([frame.getAttribute("id"), frame.getAttribute("onclick"), frame.getAttribute("sandbox"), movie.style.display],
                     [null, null, "allow-scripts allow-same-origin allow-popups", "none"]);
    const posted = [];
    frame.contentWindow = { postMessage: (data, origin) => posted.push([data, origin]) };
    fire({ source: {}, data: "photoforKP:player" }); // another window saying it
    fire({ source: frame.contentWindow, data: "hello" });
    assert.deepEqual(posted, []);
    fire({ source: frame.contentWindow, data: "photoforKP:player" });
    fire({ source: frame.contentWindow, data: "photoforKP:player" }); // once
    assert.deepEqual(posted, [[{ proof: "p1", movie: player.movie, params: JSON.stringify(settings), title: "" },
                               "http://127.0.0.1:4000"]]);
  }
  doc.defaultView = null;
});

test("a document is searched if it has a movie, else once its page's world says it has one; once", () => {
  let watched = 0;
  globalThis.MutationObserver = class { observe() { ++watched; } };
  for (const has of [false, true]) {
    const listeners = {};
    watched = 0;
    const told = { readyState: "interactive", querySelectorAll: () => [], querySelector: () => (has ? {} : null),
                   addEventListener: (type, f) => { listeners[type] = f; } };
    lookWhenTold(told, { perDocument: MaxMovies });
    assert.equal(watched, has ? 1 : 0);
    listeners["photoforKP-movies"]();
    listeners["photoforKP-movies"]();
    assert.equal(watched, 1);
  }
  delete globalThis.MutationObserver;
});

test("who may script whom: the page's allowScriptAccess and the movie's hosts, where asked for and where it came from", () => {
  const here = "http://site.example/", there = "http://cdn.example/a.swf";
  const cases = [
    // setting, the movie's addresses, the movie may call the page, the page may call the movie
    [null, [here + "a.swf", here + "b.swf"], true, true], ["SameDomain", [here + "a.swf"], true, true],
    ["whatever", [there], false, false], [null, [here + "a.swf", there], false, false],
    ["always", [there], true, false], [" ALWAYS ", [here + "a.swf"], true, true],
    ["never", [here + "a.swf"], false, false], ["always", ["http://site.example:81/a.swf"], true, true],
    [null, ["not an address"], false, false],
  ];
  for (const [setting, movies, movieCalls, pageCalls] of cases) {
    const access = scriptAccess(setting);
    assert.deepEqual([mayScript(access, here + "p.html", movies, false), mayScript(access, here + "p.html", movies, true)],
                     [movieCalls, pageCalls], `${setting} ${movies}`);
  }
});

test("what crosses between a movie and its page: data only, bounded", () => {
  const deep = (n) => (n ? [deep(n - 1)] : 0);
  const cases = [
    [["a", 1, true, null, { b: [2.5, "c"] }], '["a",1,true,null,{"b":[2.5,"c"]}]'],
    [[undefined, NaN, Infinity], "[null,null,null]"], [Object.create(null), "{}"],
    [[() => 1], null], [[new Date(0)], null], [[new Map()], null], [[Symbol("s")], null], [[10n], null],
    [[new (class Node {})()], null], [{ get a() { throw new Error("no"); } }, null],
    [deep(16), JSON.stringify(deep(16))], [deep(17), null],
    [["x".repeat(65532)], JSON.stringify(["x".repeat(65532)])], [["x".repeat(65534)], null],
  ];
  for (const [value, expected] of cases) {
    const text = PageData.toData(value);
    assert.equal(text, expected, String(expected).slice(0, 40));
    if (text !== null)
      assert.deepEqual(PageData.fromData(text), JSON.parse(text));
  }
  const read = [["[1]", [1]], [JSON.stringify(deep(16)), deep(16)], [JSON.stringify(deep(17)), undefined],
                ["[".repeat(40000) + "]".repeat(40000), undefined], ["{bad", undefined], [42, undefined],
                ['"' + "x".repeat(65535) + '"', undefined]];
  for (const [text, expected] of read)
    assert.deepEqual(PageData.fromData(text), expected, String(text).slice(0, 20));
});

test("what a movie may name: a dotted path from window, never code; what it offers: one name", () => {
  const cases = [["movieSays", true, true], ["player.api.onReady", true, false], ["$a._b1", true, false], ["_$1", true, true],
                 ["alert(1)", false, false], ["a..b", false, false], ["a.", false, false], ["1a", false, false],
                 ["a['b']", false, false], ["constructor.constructor", false, false], ["x.__proto__", false, false],
                 ["o.prototype.f", false, false], ["a b", false, false], ["", false, false], [42, false, false],
                 ["a".repeat(257), false, false], ["a".repeat(101), true, false]];
  for (const [name, path, offered] of cases)
    assert.deepEqual([PageData.isPath(name), PageData.isName(name)], [path, offered], String(name).slice(0, 20));
});

test("at most a limit of calls in any second", () => {
  let now = 0;
  const allowed = PageData.rate(3, () => now);
  const seen = [0, 100, 200, 300, 999, 1000, 1100, 1150, 2500].map((t) => { now = t; return allowed(); });
  assert.deepEqual(seen, [true, true, true, false, false, true, true, false, true]);
});
