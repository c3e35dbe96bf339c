// The plugin lists that pages of the Flash era read before they write a movie.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const { withFlash, watchForMovies } = require("../../viewers/flashplugin.js");

// The engine's own kinds and lists, as far as the script uses them.
const kinds = { Plugin: class {}, MimeType: class {}, PluginArray: class {}, MimeTypeArray: class {} };
const engine = (entries) => Object.assign(Object.create(null), entries, { length: entries.length });
const pdf = { name: "PDF Viewer" };
const odd = { name: "length" }; // a name that is also a property of the list
const pdfType = { type: "application/pdf" };

test("the engine's plugins and a Flash player, as lists answer", () => {
  const { plugins, mimeTypes } = withFlash(engine([pdf, odd]), engine([pdfType]), kinds);
  const flash = plugins[2];
  const swf = mimeTypes[1];
  const cases = [
    [plugins.length, 3], [plugins.item(0), pdf], [plugins.item("1"), odd], [plugins.item(3), null], [plugins.item(-1), null],
    [plugins.namedItem("Shockwave Flash"), flash], [plugins["Shockwave Flash"], flash], [plugins.namedItem("length"), odd],
    [plugins["PDF Viewer"], pdf], [plugins.namedItem("Java"), null], [flash.description, "Shockwave Flash 32.0 r0"],
    [flash.length, 2], [flash.item(0), swf], [flash["application/futuresplash"].suffixes, "spl"],
    [mimeTypes.length, 3], [mimeTypes.item(0), pdfType], [mimeTypes.namedItem("application/x-shockwave-flash"), swf],
    [mimeTypes["application/x-shockwave-flash"], swf], [swf.enabledPlugin, flash],
    [plugins instanceof kinds.PluginArray, true], [flash instanceof kinds.Plugin, true], [swf instanceof kinds.MimeType, true],
  ];
  cases.forEach(([got, expected], i) => assert.equal(got, expected, `case ${i}`));
  // Only the entries themselves are listed, as in the engine's lists.
  assert.deepEqual(Object.keys(plugins), ["0", "1", "2"]);
  assert.deepEqual(Array.from(plugins, (p) => p.name), ["PDF Viewer", "length", "Shockwave Flash"]);
  assert.deepEqual(Object.keys(flash), ["0", "1"]);
});

test("an engine without types still lists Flash's", () => {
  const { plugins, mimeTypes } = withFlash([], undefined, kinds);
  assert.equal(plugins.length, 1);
  assert.deepEqual(Array.from({ length: mimeTypes.length }, (_, i) => mimeTypes.item(i).type),
                   ["application/x-shockwave-flash", "application/futuresplash"]);
});

test("the program hears of a document's movies once: when its parser is done, or when a script adds one", () => {
  let observer = null;
  globalThis.MutationObserver = class {
    constructor(callback) { this.callback = callback; observer = this; }
    observe() { this.watching = true; }
    disconnect() { this.watching = false; }
  };
  const node = (localName, inner = false) => ({ nodeType: 1, localName, querySelector: () => (inner ? {} : null) });
  const added = (...nodes) => observer.watching && observer.callback([{ addedNodes: nodes }]);
  const cases = [
    // readyState, has one when parsed, what scripts add after, times heard
    ["loading", true, [], 1], ["complete", true, [], 1], ["loading", false, [], 0],
    ["loading", false, [[{ nodeType: 3 }, node("div")], [node("param")]], 0],
    ["interactive", false, [[node("div"), node("embed")], [node("object")]], 1],
    ["loading", false, [[node("div", true)]], 1],
    ["loading", false, [[node("div")], [node("embed")]], 1, "an old library's some()"],
  ];
  const some = Array.prototype.some;
  for (const [readyState, parsed, later, heard, library] of cases) {
    if (library)
      Array.prototype.some = function (f) { return this.each(f); }; // eslint-disable-line no-extend-native
    let loaded = null;
    let found = 0;
    observer = null;
    const doc = { readyState, querySelector: () => (parsed ? {} : null), addEventListener: (type, f) => { loaded = f; } };
    watchForMovies(doc, () => ++found);
    if (readyState === "loading")
      assert.equal(observer, null, "nothing is watched while the parser works");
    if (loaded)
      loaded();
    later.forEach((nodes) => added(...nodes));
    Array.prototype.some = some;
    assert.equal(found, heard, JSON.stringify([readyState, parsed, later]));
  }
  delete globalThis.MutationObserver;
});
