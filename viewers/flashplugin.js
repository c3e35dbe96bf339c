// Pages of the Flash era ask the browser for its Flash player before they write a movie
// into themselves (SWFObject and its like read navigator.plugins and navigator.mimeTypes)
// and show their "get Flash" text when it has none. This runs in the page's own world
// before the page's scripts and shows them a recent player beside the plugins the engine
// lists, so that they write their <object>s and <embed>s, which then play in place like
// any other movie of the page. It also tells the program and its finder (flashembed.js,
// in a world of its own) when a document has an <object> or <embed>, so that only such
// documents are searched.
(function () {
  "use strict";

  function define(target, name, value, enumerable) {
    Object.defineProperty(target, name, { value: value, enumerable: enumerable === true, configurable: true });
  }

  // Entries as the engine's own lists have them: by index, by name where named (never
  // over what the list itself has, such as length), length, item() and namedItem().
  function fill(out, entries, nameOf) {
    define(out, "length", entries.length);
    define(out, "item", function item(index) { return entries[index >>> 0] || null; });
    define(out, "namedItem", function namedItem(name) {
      return entries.find(function (e) { return nameOf(e) === String(name); }) || null;
    });
    entries.forEach(function (e, i) { define(out, i, e, true); });
    entries.forEach(function (e) {
      const name = nameOf(e);
      if (name && !(name in out))
        define(out, name, e);
    });
    return out;
  }
  const typeOf = function (t) { return t.type; };

  // The engine's plugins and types with a Flash player added, made of the engine's own
  // kinds (Plugin, MimeType, PluginArray, MimeTypeArray), so that they pass for its own.
  function withFlash(enginePlugins, engineTypes, kinds) {
    const flash = Object.create(kinds.Plugin.prototype);
    define(flash, "name", "Shockwave Flash");
    define(flash, "description", "Shockwave Flash 32.0 r0");
    define(flash, "filename", "libpepflashplayer.so");
    const flashTypes = [["application/x-shockwave-flash", "swf", "Shockwave Flash"],
                        ["application/futuresplash", "spl", "FutureSplash Player"]].map(function (t) {
      const type = Object.create(kinds.MimeType.prototype);
      define(type, "type", t[0]);
      define(type, "suffixes", t[1]);
      define(type, "description", t[2]);
      define(type, "enabledPlugin", flash);
      return type;
    });
    fill(flash, flashTypes, typeOf);

    const plugins = fill(Object.create(kinds.PluginArray.prototype), Array.from(enginePlugins).concat([flash]),
                         function (p) { return p.name; });
    define(plugins, "refresh", function refresh() {}); // nothing comes or goes while a page is up
    const mimeTypes = fill(Object.create(kinds.MimeTypeArray.prototype),
                           Array.from(engineTypes || []).concat(flashTypes), typeOf);
    return { plugins: plugins, mimeTypes: mimeTypes };
  }

  // Says found (once) as soon as doc has an <object> or <embed>: what the parser built,
  // once it is whole; after that, what scripts add. Nothing is watched while the parser
  // works, which would cost every page. Plain loops: old pages' libraries replace the
  // array methods (Prototype's some() wants an each() that a NodeList lacks).
  function watchForMovies(doc, found) {
    const isOrHas = function (node) {
      return node.nodeType === 1
             && (node.localName === "object" || node.localName === "embed" || node.querySelector("object,embed") !== null);
    };
    const look = function () {
      if (doc.querySelector("object,embed") !== null)
        return found();
      const observer = new MutationObserver(function (records) {
        for (let i = 0; i < records.length; ++i) {
          const nodes = records[i].addedNodes;
          for (let j = 0; j < nodes.length; ++j) {
            if (isOrHas(nodes[j])) {
              observer.disconnect();
              return found();
            }
          }
        }
      });
      observer.observe(doc, { childList: true, subtree: true });
    };
    if (doc.readyState === "loading")
      doc.addEventListener("DOMContentLoaded", look);
    else
      look();
  }

  // The page's side of ExternalInterface (the program's side, flashembed.js, decides
  // what comes here). A movie's call: the function at a dotted path from window, called
  // with data; never code, and never the functions that would make code of a string.
  // A function the movie offers: set on its element, where the page looks for it by
  // id, by name or in document.embeds; calling it hands the values to the program's
  // side and returns undefined at once, as the movie answers later.
  function pageScripting(doc, win, dispatch, NativeCustomEvent) {
    const apply = Reflect.apply;
    const defineProperty = Object.defineProperty;
    const slice = Array.prototype.slice;
    const makesCode = [win.eval, win.Function, win.setTimeout, win.setInterval];
    const now = win.performance.now.bind(win.performance);
    doc.addEventListener("photoforKP-call", function (e) {
      const call = PageData.fromData(e.detail);
      if (!call || !PageData.isPath(call.name) || !Array.isArray(call.args))
        return;
      const path = call.name.split(".");
      let owner = win;
      let fn = win;
      for (let i = 0; i < path.length && fn !== null && fn !== undefined; ++i) {
        owner = fn;
        fn = fn[path[i]];
      }
      if (typeof fn !== "function" || makesCode.indexOf(fn) >= 0)
        return;
      try {
        apply(fn, owner, call.args);
      } catch (err) {
        // the page's own failure
      }
    }, true);
    doc.addEventListener("photoforKP-offered", function (e) {
      const element = e.target;
      const name = e.detail;
      if (!PageData.isName(name) || !element || element.nodeType !== 1)
        return;
      const calls = PageData.rate(PageData.MaxCallsPerSecond, now);
      defineProperty(element, name, { configurable: true, writable: true, value: function () {
        // Counted before the values are copied: past the rate a call costs nothing more.
        if (!calls())
          return undefined;
        const detail = PageData.toData({ name: name, args: slice.call(arguments) });
        if (detail !== null)
          dispatch.call(element, new NativeCustomEvent("photoforKP-callmovie", { detail: detail }));
        return undefined;
      } });
    }, true);
  }

  // Every console message of every document reaches the program's main thread, one by
  // one, and nobody reads a page's own: a page logging in a loop would hold the viewers
  // that come after it. Its console says nothing (the finder's, in a world of its own,
  // is another console).
  function quiet(pageConsole) {
    const nothing = function () {};
    Object.getOwnPropertyNames(pageConsole).forEach(function (name) {
      if (typeof pageConsole[name] === "function")
        Object.defineProperty(pageConsole, name, { value: nothing, writable: true, configurable: true });
    });
  }

  function start() {
    // The engine may run this twice in one document (a page of the same process that is
    // going away lends it its scripts): once, or the page would hear each call twice.
    const once = Symbol.for("photoforKP.plugin");
    if (window[once])
      return;
    Object.defineProperty(window, once, { value: true });
    // Taken before the page's scripts run, which may replace them.
    const dispatch = EventTarget.prototype.dispatchEvent;
    const NativeEvent = Event;
    const say = console.debug.bind(console);
    quiet(console);
    pageScripting(document, window, dispatch, CustomEvent);
    watchForMovies(document, function () {
      dispatch.call(document, new NativeEvent("photoforKP-movies")); // to the finder, if it is there
      say("photoforKP:movies"); // to the program, which brings the finder to the top frame
    });
    const engineList = navigator.plugins;
    if (!engineList || typeof PluginArray === "undefined" || engineList.namedItem("Shockwave Flash"))
      return;
    const lists = withFlash(engineList, navigator.mimeTypes,
                            { Plugin: Plugin, MimeType: MimeType, PluginArray: PluginArray, MimeTypeArray: MimeTypeArray });

    // Where the engine keeps them, so that navigator itself has no properties of its own.
    [["plugins", lists.plugins], ["mimeTypes", lists.mimeTypes]].forEach(function (p) {
      Object.defineProperty(Navigator.prototype, p[0], { get: function () { return p[1]; }, enumerable: true, configurable: true });
    });
  }

  // Under Node, for the unit tests: the lists, and no navigator to change.
  if (typeof window === "undefined" && typeof module === "object" && module && module.exports)
    module.exports = { fill, withFlash, watchForMovies, pageScripting };
  else
    start();
})();
