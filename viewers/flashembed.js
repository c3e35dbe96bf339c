// Flash movies in a web page play where they stand, each in a frame of the album player.
// This runs in a world of its own beside the page's: the page's scripts see neither it
// nor its channel to the program, and cannot ask for a player themselves. Making that
// world costs every document, so it is made only for a page that has movies: the page's
// own world tells the program when a document has an <object> or <embed>
// (flashplugin.js), and the program then runs this in the top frame. It looks in the
// top document and in every frame of the page's own origin (it cannot see into another
// site's frames), and again each time it is run (another frame has found one). The
// program puts Qt's own channel client (qwebchannel.js) and its limits (FlashLimits)
// before it.
(function () {
  "use strict";
  const FlashClassId = "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000";
  const FlashType = "application/x-shockwave-flash";
  const HelloFromPlayer = "photoforKP:player";
  const Settings = ["quality", "scale", "salign", "wmode", "loop", "play", "menu", "flashvars", "base",
                    "allownetworking", "bgcolor"];

  // Asks the program for a player frame over its channel; the requests of a document that
  // come before the channel is up wait for it.
  let channel = null;
  const waiting = [];
  function askForPlayer(movie, page, then) {
    if (channel && channel.objects && channel.objects.flash)
      return channel.objects.flash.open(movie, page, then);
    waiting.push([movie, page, then]);
    if (!channel && typeof qt === "object" && qt && qt.webChannelTransport) {
      channel = new QWebChannel(qt.webChannelTransport, function (ready) {
        waiting.splice(0).forEach(function (w) {
          if (ready.objects.flash)
            ready.objects.flash.open(w[0], w[1], w[2]);
        });
      });
    }
  }

  function lower(value) { return (value || "").trim().toLowerCase(); }

  function isFlashObject(el) {
    return el.localName === "object"
           && (lower(el.getAttribute("classid")) === FlashClassId || lower(el.getAttribute("type")) === FlashType);
  }

  function namesMovie(src, doc) {
    try {
      return new URL(src, doc.baseURI).pathname.toLowerCase().endsWith(".swf");
    } catch (e) {
      return false;
    }
  }

  function isFlashEmbed(el) {
    const type = lower(el.getAttribute("type"));
    return el.localName === "embed" && (type === FlashType || (!type && namesMovie(el.getAttribute("src"), el.ownerDocument)));
  }

  function ownParams(object) {
    return Array.from(object.querySelectorAll("param")).filter(function (p) { return p.closest("object") === object; });
  }

  function settingsOf(el) {
    const out = {};
    const take = function (name, value) {
      name = lower(name);
      if (Settings.indexOf(name) >= 0 && !(name in out) && value !== null)
        out[name] = String(value).slice(0, 4096);
    };
    if (el.localName === "object") {
      ownParams(el).forEach(function (p) { take(p.getAttribute("name"), p.getAttribute("value")); });
      const inner = el.querySelector("embed");
      if (inner)
        Array.from(inner.attributes).forEach(function (a) { take(a.name, a.value); });
    } else {
      Array.from(el.attributes).forEach(function (a) { take(a.name, a.value); });
    }
    return out;
  }

  // An address as the page means it: resolved by the document, so that a query in a
  // GB2312 page is encoded as GB2312.
  function resolve(src, doc) {
    const a = doc.createElement("a");
    a.setAttribute("href", src);
    return /^https?:/i.test(a.href) ? a.href : null;
  }

  function movieOf(el) {
    let src = el.getAttribute(el.localName === "object" ? "data" : "src");
    if (!src && el.localName === "object") {
      const param = ownParams(el).find(function (p) { return ["movie", "src"].indexOf(lower(p.getAttribute("name"))) >= 0; });
      const inner = el.querySelector("embed");
      src = param ? param.getAttribute("value") : inner ? inner.getAttribute("src") : null;
    }
    return src ? resolve(src, el.ownerDocument) : null;
  }

  // The movies of one document: each plays once, and no more than maxMovies of them.
  function finder(doc, askForPlayer, maxMovies) {
    const win = doc.defaultView;
    const handled = new WeakSet();
    const channels = new WeakMap(); // a player's frame: the page side's end of their channel
    let movies = 0;

    // An <embed> or <object> inside a Flash <object> is the same movie, told twice.
    function insideFlash(el) {
      for (let p = el.parentElement; p; p = p.parentElement)
        if (handled.has(p) || isFlashObject(p))
          return true;
      return false;
    }

    function play(el) {
      const movie = movieOf(el);
      if (!movie || handled.has(el) || movies >= maxMovies)
        return;
      handled.add(el);
      ++movies;
      const settings = settingsOf(el);
      if (settings.base && settings.base !== ".") {
        settings.base = resolve(settings.base, doc); // as the page names it
        if (!settings.base)
          delete settings.base;
      }
      askForPlayer(movie, doc.URL, function (player) {
        if (!player || typeof player.url !== "string" || !player.url || !el.isConnected)
          return;
        let origin;
        try {
          origin = new URL(player.url).origin;
        } catch (e) {
          return;
        }
        // What the page calls the movie, for screen readers (the player says "动画" else).
        const title = (el.getAttribute("title") || el.getAttribute("alt") || "").trim().slice(0, 200);
        const frame = doc.createElement("iframe");
        ["id", "class", "style", "width", "height", "align", "title", "name", "hspace", "vspace"].forEach(function (a) {
          if (el.hasAttribute(a))
            frame.setAttribute(a, el.getAttribute(a));
        });
        frame.setAttribute("frameborder", "0");
        frame.setAttribute("scrolling", "no");
        // Popups only so that a movie's new window reaches the program, which opens none.
        frame.setAttribute("sandbox", "allow-scripts allow-same-origin allow-popups");
        frame.style.border = "0";
        // The page can read the frame's address, so the session and the movie are not in
        // it: once the player in the frame says it is there, they are posted to it alone
        // (to its origin; should the page have sent the frame elsewhere, nothing goes).
        const handOver = function (event) {
          if (event.source !== frame.contentWindow || event.data !== HelloFromPlayer)
            return;
          win.removeEventListener("message", handOver);
          // From then on the page's side and the player speak over this channel alone.
          const channel = new MessageChannel();
          frame.contentWindow.postMessage({ session: String(player.session), movie: String(player.movie),
                                            params: JSON.stringify(settings), title: title }, origin, [channel.port2]);
          channels.set(frame, channel.port1);
        };
        win.addEventListener("message", handOver);
        frame.src = player.url;
        el.replaceWith(frame);
      });
    }

    function scan(root) {
      if (!root.querySelectorAll)
        return;
      const found = Array.from(root.querySelectorAll("object,embed"));
      if (root.localName === "object" || root.localName === "embed")
        found.unshift(root);
      found.forEach(function (el) {
        if ((isFlashObject(el) || isFlashEmbed(el)) && !insideFlash(el))
          play(el);
      });
    }

    return { play: play, scan: scan };
  }

  // Every document of the page this world can see: the top one and, depth first, those
  // of its frames that are of its origin (also inside another site's frame). A few
  // levels, and a bounded number of frames visited (the engine allows about a thousand
  // a page); every document within them is taken, as each tells the program only once.
  function documents(win, out, depth, budget) {
    budget = budget || { frames: 512 };
    if (!win || --budget.frames < 0)
      return out;
    try {
      out.push(win.document); // another origin's frame throws
    } catch (e) {
      // not ours to look at; its own frames may be
    }
    if (depth < 8)
      for (let i = 0; i < win.frames.length && budget.frames > 0; ++i)
        documents(win.frames[i], out, depth + 1, budget);
    return out;
  }

  // Looks in each document it has not seen: what the parser built once it is whole (an
  // <object>'s <param>s come after it), and what scripts add later as it comes.
  function looker(limits) {
    const seen = new WeakSet();
    return function look() {
      documents(window, [], 0).forEach(function (doc) {
        if (seen.has(doc))
          return;
        seen.add(doc);
        const movies = finder(doc, askForPlayer, limits.perDocument);
        const watch = function () {
          movies.scan(doc);
          new MutationObserver(function (records) {
            records.forEach(function (r) { r.addedNodes.forEach(movies.scan); });
          }).observe(doc, { childList: true, subtree: true });
        };
        if (doc.readyState === "loading")
          doc.addEventListener("DOMContentLoaded", watch);
        else
          watch();
      });
    };
  }

  // Under Node, for the unit tests: the pure parts, and no page to look at.
  if (typeof window === "undefined" && typeof module === "object" && module && module.exports)
    module.exports = { isFlashObject, isFlashEmbed, namesMovie, settingsOf, resolve, movieOf, finder, documents };
  else if (typeof window.photoforKPLook === "function")
    window.photoforKPLook(); // this world's global, which the page cannot see
  else
    (window.photoforKPLook = looker(FlashLimits))();
})();
