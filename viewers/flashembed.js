// Flash movies in a web page play where they stand, each in a frame of the album player.
// This runs in every document of a page, its frames of any site included, in a world of
// its own beside the page's: the page's scripts see neither it nor its channel to the
// program, and cannot ask for a player themselves. It comes into every document once it
// has loaded, and sooner into the top document, once the page's own world says a
// document has an <object> or <embed> (flashplugin.js); it searches only a document
// that has one. Each
// document asks for the players of its own movies, which play under the sandbox of that
// document's own address. The program puts its
// limits, the run's secret and the player's page (FlashSetup) before it.
(function () {
  "use strict";
  const FlashClassId = "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000";
  const FlashType = "application/x-shockwave-flash";
  const HelloFromPlayer = Shared.helloFromPlayer; // Shared: written in by the program
  const Settings = ["quality", "scale", "salign", "wmode", "loop", "play", "menu", "flashvars", "base",
                    "allownetworking", "bgcolor", "allowscriptaccess"];

  // Asks the program for a player frame on the document's console, which only the program
  // reads, with the run's secret, which only this world holds (both taken before the
  // page's scripts run). The frame's handover id is in its address, which the page can
  // read; its proof goes to the player in the frame alone, which trades it for its
  // session at the player's host.
  const say = console.debug.bind(console);
  const randomValues = crypto.getRandomValues.bind(crypto);
  function randomId() {
    return Array.from(randomValues(new Uint8Array(16)), function (b) { return (b + 0x100).toString(16).slice(1); }).join("");
  }
  function askForPlayer(movie, page, then) {
    const handover = randomId();
    const proof = randomId();
    // The secret first: the program reads no further in a line without it.
    say("photoforKP:movie " + FlashSetup.token + " " + JSON.stringify({ handover: handover, proof: proof, movie: movie,
                                                                         page: page }));
    then({ url: FlashSetup.player + "?handover=" + handover, proof: proof, movie: movie });
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
        const title = (el.getAttribute("title") || el.getAttribute("alt") || "").trim().slice(0, Shared.maxTitleChars);
        const frame = doc.createElement("iframe");
        // The movie's element stays where it is, for the page's scripts to find: an
        // <object> holds the frame in place of its fallback (its inner <embed> is the
        // same movie); an <embed> can hold nothing, so it steps aside for the frame,
        // which takes its looks. Never its id or name, which are the element's.
        // An <object>'s inner <embed> or <object> (one movie for two browsers) is the movie's too.
        const elements = [el].concat(el.localName === "object" ? Array.from(el.querySelectorAll("object,embed")) : []);
        const looks = el.localName === "object" ? ["width", "height", "title"]
                                                : ["class", "style", "width", "height", "align", "title", "hspace", "vspace"];
        looks.forEach(function (a) {
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
          frame.contentWindow.postMessage({ proof: String(player.proof), movie: String(player.movie),
                                            params: JSON.stringify(settings), title: title }, origin, [channel.port2]);
          channels.set(frame, channel.port1);
          scripting(doc, el, elements, channel.port1, settings.allowscriptaccess, movie);
        };
        win.addEventListener("message", handOver);
        frame.src = player.url;
        if (el.localName === "object") {
          // What it holds for browsers without Flash ("get the player" and the like) is not shown.
          Array.from(el.children).forEach(function (e) { e.style.setProperty("display", "none", "important"); });
          el.appendChild(frame);
        } else {
          el.style.setProperty("display", "none", "important");
          el.after(frame);
        }
      });
    }

    function scan(root) {
      if (root.localName === "iframe")
        return; // a player's, or a frame, which has a finder of its own
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

  // ExternalInterface between a movie and the scripts of the page it stands in, as the
  // page's allowScriptAccess has it: "always", "never", or "sameDomain" (also for any
  // other value), where the movie's host, where it was asked for and where it came
  // from, must be the page's. The movie's calls reach the page's world as events on its
  // element, which flashplugin.js turns into calls of the page's functions; the
  // functions the movie offers are set on its elements, and calling them comes here as
  // an event. The page may call the movie only on the page's own host: a movie of
  // another host would grant it with Security.allowDomain, which the emulator does not
  // tell. Data only, within PageData's bounds, at most MaxCallsPerSecond a second.
  const CallPage = "photoforKP-call";
  const Offered = "photoforKP-offered";
  const CallMovie = "photoforKP-callmovie";
  function hostOf(url) {
    try {
      return new URL(url).hostname;
    } catch (e) {
      return null;
    }
  }
  function scriptAccess(value) {
    const v = lower(value);
    return v === "always" || v === "never" ? v : "samedomain";
  }
  function mayScript(access, pageUrl, movieUrls, pageCalls) {
    const page = hostOf(pageUrl);
    const sameHost = page !== null && movieUrls.every(function (u) { return hostOf(u) === page; });
    return access !== "never" && (sameHost || (access === "always" && !pageCalls));
  }
  function scripting(doc, el, elements, port, setting, movie) {
    const access = scriptAccess(setting);
    const movies = [movie];
    const offered = new Set();
    const pagesCall = PageData.rate(PageData.MaxCallsPerSecond, performance.now.bind(performance));
    const tell = function (target, type, detail) {
      target.dispatchEvent(new CustomEvent(type, { detail: detail }));
    };
    port.onmessage = function (e) {
      const d = e.data || {};
      if (typeof d.movie === "string" && movies.length === 1) {
        movies.push(d.movie); // where it really came from, once
      } else if (typeof d.call === "string" && movies.length === 2 && mayScript(access, doc.URL, movies, false)
                 && PageData.isPath(d.call)) {
        const args = PageData.fromData(d.args);
        if (Array.isArray(args))
          tell(el, CallPage, JSON.stringify({ name: d.call, args: args }));
      } else if (typeof d.callback === "string" && PageData.isName(d.callback) && !offered.has(d.callback)
                 && offered.size < 64 && mayScript(access, doc.URL, movies, true)) {
        offered.add(d.callback);
        elements.forEach(function (e) { tell(e, Offered, d.callback); });
      }
    };
    const called = function (e) {
      if (!pagesCall()) // first: past the rate, nothing is read
        return;
      const d = PageData.fromData(e.detail);
      if (!d || typeof d !== "object" || !offered.has(d.name) || !Array.isArray(d.args)
          || !mayScript(access, doc.URL, movies, true))
        return;
      port.postMessage({ invoke: d.name, args: JSON.stringify(d.args) });
    };
    elements.forEach(function (e) { e.addEventListener(CallMovie, called); });
  }

  // Looks in doc if it has a movie, else once its page's world says it has one (a page
  // that says so itself only has its own document looked in): what the parser built,
  // once it is whole (an <object>'s <param>s come after it), then what scripts add.
  const MoviesEvent = "photoforKP-movies";
  function lookWhenTold(doc, limits) {
    let started = false;
    const start = function () {
      if (started)
        return;
      started = true;
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
    };
    doc.addEventListener(MoviesEvent, start, true);
    if (doc.querySelector("object,embed") !== null)
      start();
  }

  // Under Node, for the unit tests: the pure parts, and no page to look at.
  if (typeof window === "undefined" && typeof module === "object" && module && module.exports)
    module.exports = { isFlashObject, isFlashEmbed, namesMovie, settingsOf, resolve, movieOf, finder, lookWhenTold, mayScript,
                       scriptAccess };
  else if (!window.photoforKPFinder) { // once a document, however it came (this world's global)
    window.photoforKPFinder = true;
    lookWhenTold(document, FlashSetup);
  }
})();
