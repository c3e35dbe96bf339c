// The album player's shell page: plays one movie in the emulator. Every request the
// movie makes goes to our relay, which decides what may reach it; the emulator sees each
// answer under its real address, so the movie knows only where it really came from.
(function () {
  "use strict";

  const MaxBodyBytes = 1024 * 1024;
  const OpenArchived = "打开存档副本";
  // What the player says when it cannot play: of an album in the album viewer, of a
  // movie where it stands in a page.
  const Words = {
    album: { name: "相册", loading: "正在载入相册…", loadFailed: "无法载入相册，请稍后再试。", cannotPlay: "无法播放这本相册。",
             badAddress: "无法播放相册：地址无效。", notWeb: "无法播放相册：只能播放网络上的相册。" },
    movie: { name: "动画", loading: "正在载入动画…", loadFailed: "无法载入动画，请稍后再试。", cannotPlay: "无法播放这个动画。",
             badAddress: "无法播放动画：地址无效。", notWeb: "无法播放动画：只能播放网络上的动画。" },
  };
  // A movie of one empty frame (20 by 20 pixels, 12 frames a second).
  const BlankMovie = new Uint8Array([70, 87, 83, 8, 22, 0, 0, 0, 80, 0, 200, 0, 12, 128, 0, 12, 1, 0, 64, 0, 0, 0]);
  const relayOptions = { credentials: "omit", cache: "no-store", redirect: "error", referrerPolicy: "no-referrer" };

  function parseSettings(text) {
    if (text === null || text.length > 65536)
      return null;
    try {
      const parsed = JSON.parse(text);
      return parsed && typeof parsed === "object" ? parsed : null;
    } catch (e) {
      return {};
    }
  }

  function flag(value, fallback) {
    if (typeof value !== "string")
      return fallback;
    const v = value.trim().toLowerCase();
    return v === "false" || v === "0" || v === "no" ? false : v === "true" || v === "1" || v === "yes" ? true : fallback;
  }

  // The <param>s and attributes of a movie in a page, as the emulator takes them.
  function embeddedOptions(settings, movieUrl) {
    const options = {};
    const choose = function (name, table) {
      const v = typeof settings[name] === "string" ? settings[name].trim().toLowerCase() : "";
      if (table[v] !== undefined)
        options[name] = table[v];
    };
    choose("quality", { low: "low", autolow: "low", medium: "medium", high: "high", autohigh: "high", best: "best" });
    choose("scale", { showall: "showAll", noborder: "noBorder", exactfit: "exactFit", noscale: "noScale" });
    choose("wmode", { window: "window", opaque: "opaque", transparent: "transparent", direct: "direct", gpu: "gpu" });
    choose("allownetworking", { all: "all", internal: "internal", none: "none" });
    if (options.allownetworking) {
      options.allowNetworking = options.allownetworking;
      delete options.allownetworking;
    }
    if (typeof settings.salign === "string")
      options.salign = settings.salign.slice(0, 4);
    options.menu = flag(settings.menu, true);
    options.autoplay = flag(settings.play, true) ? "on" : "off";
    if (/^#?[0-9a-f]{6}$/i.test(settings.bgcolor || ""))
      options.backgroundColor = "#" + settings.bgcolor.replace("#", "");
    if (typeof settings.flashvars === "string")
      options.parameters = settings.flashvars;
    if (typeof settings.base === "string") {
      try {
        options.base = new URL(settings.base, movieUrl).href;
      } catch (e) {
        // no base of its own: its own address
      }
    }
    // The emulator has no loop setting: movies loop.
    return options;
  }

  function asSeenByMovie(body, answer, asked) {
    const headers = new Headers();
    const type = answer.headers.get("X-Relay-Type");
    if (type)
      headers.set("Content-Type", type); // the emulator decodes text by its charset
    const length = answer.headers.get("X-Relay-Length") || answer.headers.get("Content-Length");
    if (length)
      headers.set("Content-Length", length);
    const withBody = answer.ok && answer.status !== 204 && answer.status !== 205;
    const response = new Response(withBody ? body : null,
                                  { status: answer.status, statusText: answer.statusText, headers: headers });
    const real = answer.headers.get("X-Relay-Url") || asked;
    Object.defineProperty(response, "url", { value: real });
    Object.defineProperty(response, "redirected", { value: real !== asked });
    return response;
  }

  // Sizes as people read them: whole kilobytes below a megabyte (decimal units).
  function sizes(received, total) {
    const largest = Math.max(received, total);
    const one = largest < 1000000 ? function (n) { return Math.round(n / 1000) + " kB"; }
                                  : function (n) { return (n / 1000000).toFixed(1) + " MB"; };
    return total > 0 ? one(received) + " / " + one(total) : one(received);
  }

  // The loading bar's line: the words, the share once the total is known, and the sizes
  // once there is a kilobyte to tell. One line always: what does not fit goes, the sizes
  // first, then the words (a card's frame has room for the share alone).
  function progressLabel(loading, received, total, fits) {
    const lines = [];
    if (total > 0) {
      const percent = Math.min(100, Math.floor(received * 100 / total)) + "%";
      if (total >= 1000)
        lines.push(loading + " " + percent + "（" + sizes(received, total) + "）");
      lines.push(loading + " " + percent, percent);
    } else {
      if (received >= 1000)
        lines.push(loading + " " + sizes(received, 0));
      lines.push(loading);
    }
    for (const line of lines)
      if (fits(line))
        return line;
    return lines[lines.length - 1];
  }

  // The emulator draws a movie's first frame only once a whole frame interval has passed
  // after the movie started (a quarter of a second for an album at 4 frames a second); a
  // desktop player drew it as soon as the movie had loaded. The emulator's clock (the
  // animation frames' time and performance.now) is moved on by one interval once the
  // movie's header is in, and its next tick draws frame 1.
  function emulatorClock(win) {
    let ahead = 0;
    const nativeFrame = win.requestAnimationFrame.bind(win);
    const nativeNow = win.performance.now.bind(win.performance);
    win.requestAnimationFrame = function (callback) {
      return nativeFrame(function (time) { callback(time + ahead); });
    };
    win.performance.now = function () { return nativeNow() + ahead; };
    return {
      // A header's frame rate is 1/256 to 255 frames a second; none is left as it is.
      frameRateKnown: function (framesPerSecond) {
        if (framesPerSecond > 0 && isFinite(framesPerSecond))
          ahead += Math.min(1000 / framesPerSecond, 10000);
      },
    };
  }

  // An address as a request names it, so that spellings of the same one compare equal;
  // the fragment never reaches the server.
  function addressKey(text) {
    try {
      const url = new URL(text);
      url.hash = "";
      return url.href;
    } catch (e) {
      return null;
    }
  }

  // The page's fetch as the movie and the emulator see it. The movie's own answer is
  // fetched by the page itself, to show progress; it goes to the emulator's request for
  // the movie (by its link or by where that led), once, and nothing else gets it.
  // The engine opens at most six connections to one host, and a new player's page, its
  // emulator files and its movie come from the player host as the relay's loads do: the
  // loads of all players together hold at most four of them, taking turns (loads.js), so
  // that movies' slow loads never keep the next player waiting. A load holds its turn
  // until its answer has been read, failed, been dropped, or stood still for a while.
  const MaxLoadsAtOnce = 4;
  const MaxLoadsWaiting = 256;
  const LoadStillMs = 30000;
  const RenewEveryMs = 5000;

  // This player's own turns, should the shared ones be out of reach: four for it alone.
  function loadSlots(limit) {
    let busy = 0;
    const waiting = [];
    return {
      take: function () {
        if (waiting.length >= MaxLoadsWaiting)
          return Promise.reject(new TypeError("too many loads"));
        return new Promise(function (resolve) {
          if (busy < limit) {
            busy++;
            resolve({});
          } else {
            waiting.push(resolve);
          }
        });
      },
      give: function () {
        const next = waiting.shift();
        if (next)
          next({});
        else
          busy--;
      },
      stirred: function () {},
      busy: function () { return busy; },
    };
  }

  // Turns handed out by the worker all players share, through its port; this player's own
  // four if the worker cannot be had or fails. The worker is asked for at the first load,
  // so a player whose movie loads nothing (or the warm-up) starts none. An album
  // viewer's player says so first: its loads go ahead of the movies' in pages.
  function sharedSlots(connect, fallback, now, album) {
    now = now || Date.now;
    let port = null;
    let broken = false;
    let lastId = 0;
    const waiting = new Map(); // id: its promise's resolve
    const held = new Map();    // id: when the worker last heard of it
    function broke() {
      if (broken)
        return;
      broken = true;
      held.clear();
      waiting.forEach(function (resolve) { fallback.take().then(resolve); });
      waiting.clear();
    }
    function reachable() {
      if (port || broken)
        return !broken;
      try {
        port = connect(function () { broke(); });
      } catch (e) {
        broken = true;
        return false;
      }
      port.onmessage = function (e) {
        const id = e.data && e.data.granted;
        const resolve = waiting.get(id);
        if (!resolve)
          return;
        waiting.delete(id);
        held.set(id, now());
        resolve(id);
      };
      if (album)
        port.postMessage({ album: true });
      return true;
    }
    return {
      take: function () {
        if (!reachable())
          return fallback.take();
        if (waiting.size >= MaxLoadsWaiting)
          return Promise.reject(new TypeError("too many loads"));
        const id = ++lastId;
        return new Promise(function (resolve) {
          waiting.set(id, resolve);
          port.postMessage({ take: id });
        });
      },
      give: function (id) {
        if (typeof id !== "number")
          return fallback.give(id);
        if (held.delete(id) && !broken)
          port.postMessage({ give: id });
      },
      // A load still reading keeps its turn; the worker frees one it has not heard of for a while.
      stirred: function (id) {
        const last = held.get(id);
        if (last !== undefined && now() - last >= RenewEveryMs) {
          held.set(id, now());
          port.postMessage({ renew: id });
        }
      },
      leave: function () {
        if (port && !broken)
          port.postMessage({ bye: true });
      },
      busy: function () { return held.size + fallback.busy(); },
    };
  }

  // The answer's body, passed on as it is read; done() once, when it ends either way.
  function watchedBody(body, done, timers, moved) {
    let over = false;
    let still = null;
    const end = function () {
      if (over)
        return;
      over = true;
      timers.clearTimeout(still);
      done();
    };
    const stirred = function () {
      timers.clearTimeout(still);
      still = timers.setTimeout(end, LoadStillMs);
    };
    stirred();
    const reader = body.getReader();
    return new ReadableStream({
      pull: function (controller) {
        return reader.read().then(function (r) {
          if (r.done) {
            end();
            controller.close();
          } else {
            stirred();
            if (moved)
              moved();
            controller.enqueue(r.value);
          }
        }, function (e) {
          end();
          controller.error(e);
        });
      },
      cancel: function (reason) {
        end();
        return reader.cancel(reason);
      },
    });
  }

  function movieFetcher(nativeFetch, relay, emulatorRoot, timers, slots) {
    // Called as the window's own (the browser refuses them called on another object).
    timers = timers || { setTimeout: function (f, ms) { return setTimeout(f, ms); },
                         clearTimeout: function (id) { clearTimeout(id); } };
    slots = slots || loadSlots(MaxLoadsAtOnce);
    const relayNow = typeof relay === "function" ? relay : function () { return relay; };
    let movieAnswer = null;
    let movieAddresses = [];

    async function movieFetch(input, init) {
      const request = new Request(input, init);
      if (request.url.startsWith(emulatorRoot))
        return nativeFetch(request);
      if (movieAnswer && request.method === "GET" && movieAddresses.indexOf(addressKey(request.url)) >= 0) {
        const answer = movieAnswer;
        movieAnswer = null;
        return answer;
      }
      const url = new URL(request.url);
      if (url.protocol !== "http:" && url.protocol !== "https:")
        throw new TypeError("only web addresses");
      if (request.method !== "GET" && request.method !== "POST")
        throw new TypeError("only GET and POST");
      let body;
      if (request.method === "POST") {
        body = await request.arrayBuffer();
        if (body.byteLength > MaxBodyBytes)
          throw new TypeError("too much to send");
      }
      if (!relayNow())
        throw new TypeError("no movie yet");
      const turn = await slots.take();
      const done = function () { slots.give(turn); };
      let answer;
      try {
        answer = await nativeFetch(relayNow() + "?kind=load&url=" + encodeURIComponent(url.href),
                                   Object.assign({ method: request.method, body: body,
                                                   headers: { "X-Relay-Body-Type": request.headers.get("Content-Type") || "" } },
                                                 relayOptions));
      } catch (e) {
        done();
        throw e;
      }
      if (!answer.body || !answer.ok || answer.status === 204 || answer.status === 205) { // nothing to read
        done();
        if (answer.body)
          answer.body.cancel().catch(function () {});
        return asSeenByMovie(null, answer, url.href);
      }
      return asSeenByMovie(watchedBody(answer.body, done, timers, function () { slots.stirred(turn); }), answer, url.href);
    }

    return {
      fetch: movieFetch,
      loadsUnderway: function () { return slots.busy(); },
      movieArrived: function (answer, addresses) {
        movieAnswer = answer;
        movieAddresses = addresses.map(addressKey).filter(function (a) { return a !== null; });
      },
    };
  }

  // A movie's getURL to a new or named window asks for a window of its own, which the
  // program hands to the desktop's browser if a person's click asked for it; to its
  // own frame, its parent or the top window it goes nowhere, and neither does anything
  // but a web address. Relative addresses are the movie's, wherever it is by then.
  function windowOpener(nativeOpen, movieAddressNow) {
    return function openWindow(url, target) {
      const name = String(target === undefined || target === null ? "" : target).trim().toLowerCase();
      if (name === "" || name === "_self" || name === "_parent" || name === "_top")
        return null;
      let address;
      try {
        address = new URL(String(url), movieAddressNow());
      } catch (e) {
        return null;
      }
      if (address.protocol === "http:" || address.protocol === "https:")
        nativeOpen(address.href, "_blank", "noopener,noreferrer");
      return null;
    };
  }

  // A getURL with an empty target is the emulator's location.assign, not window.open: the
  // frame would go to the movie's page with no click. The player's document never
  // leaves by its own doing (the program's loads and the page's setting of the frame's
  // address are not the document's, and cannot be cancelled here anyway).
  function stayPut(win) {
    if (!win.navigation || typeof win.navigation.addEventListener !== "function")
      return;
    win.navigation.addEventListener("navigate", function (e) {
      if (e.cancelable && !e.hashChange)
        e.preventDefault();
    });
  }

  // The emulator's options for the movie: relative and root-relative addresses resolve
  // against its real address, and no setting of a page lets it run script or fill the screen.
  function loadOptions(real, embedded) {
    // The emulator's full menu always: a page's menu=false would take the movie's own
    // entries away with it, which the program's menu shortens itself (movieMenu).
    // A movie in a page has ExternalInterface, whose calls go to the page's side alone
    // (pageScripting); an album has none.
    return Object.assign({ url: real, base: new URL(".", real).href },
                         embedded ? embeddedOptions(embedded, real) : {},
                         { allowScriptAccess: !!embedded, openUrlMode: "allow", allowFullscreen: false, menu: true });
  }

  // The emulator calls a page's function for ExternalInterface.call by compiling
  // "return (name)(...arguments);" with the Function constructor. The player page
  // allows no such compiling: this answers that shape alone, whatever name it holds,
  // with a function that hands the name and the values to call, and gives the movie
  // null at once (the page answers later, if ever). Anything else goes to the engine's
  // own constructor, which the page's policy refuses.
  const CallShape = /^return \(([\s\S]*)\)\(\.\.\.arguments\);$/;
  function externalCalls(win, call) {
    const NativeFunction = win.Function;
    const hooked = function Function() {
      const found = arguments.length === 1 ? CallShape.exec(String(arguments[0])) : null;
      if (found) {
        const name = found[1];
        return function () {
          call(name, Array.prototype.slice.call(arguments));
          return null;
        };
      }
      return Reflect.construct(NativeFunction, Array.prototype.slice.call(arguments));
    };
    hooked.prototype = NativeFunction.prototype;
    win.Function = hooked;
  }

  // The movie and its page's scripts, over the port to the program's side of the page
  // (flashembed.js), which decides what reaches the page: the movie's calls to the
  // page's functions, the names of the functions it offers the page, and its real
  // address; from there, the page's calls of those functions. Data only, bounded, and
  // at most MaxCallsPerSecond a second each way; neither side waits for an answer.
  function pageScripting(port, now) {
    let emulator = null; // once the emulator's player is made
    const moviesCall = PageData.rate(PageData.MaxCallsPerSecond, now);
    const pagesCall = PageData.rate(PageData.MaxCallsPerSecond, now);
    const MaxOffered = 64;
    let offered = 0;
    port.onmessage = function (e) {
      const d = e.data;
      if (!emulator || !d || !PageData.isName(d.invoke) || !pagesCall())
        return;
      const args = PageData.fromData(d.args);
      if (Array.isArray(args)) {
        try {
          emulator.invoke(d.invoke, args);
        } catch (err) {
          // the movie's own failure: the page hears nothing either way
        }
      }
    };
    return {
      attach: function (player) { emulator = player; },
      call: function (name, args) {
        if (!PageData.isPath(name) || !moviesCall())
          return;
        const data = PageData.toData(args);
        if (data !== null)
          port.postMessage({ call: name, args: data });
      },
      offered: function (name) {
        if (PageData.isName(name) && offered < MaxOffered) {
          ++offered;
          port.postMessage({ callback: name });
        }
      },
      arrived: function (real) { port.postMessage({ movie: String(real) }); },
    };
  }

  // The emulator's internals, reached here and nowhere else. Its player element keeps the
  // player behind it in a private field (compiled to a WeakMap), caught as the element is
  // made; from that player's instance come the movie's menu entries
  // (prepare_context_menu, run_context_menu_callback, clear_custom_menu_items). Should an
  // emulator release rename or hide these, the movie's menu offers nothing and a right
  // click on a movie does nothing; playing is not touched.
  function createPlayer() {
    const nativeSet = WeakMap.prototype.set;
    let inner = null;
    WeakMap.prototype.set = function (key, value) {
      if (value && typeof value === "object" && typeof value.contextMenuItems === "function")
        inner = value;
      return nativeSet.call(this, key, value);
    };
    let player;
    try {
      player = window.RufflePlayer.newest().createPlayer();
    } finally {
      WeakMap.prototype.set = nativeSet;
    }
    emulators.set(player, inner);
    return player;
  }
  const emulators = new WeakMap();
  // Its shadow DOM, as this release builds it: the canvas it draws on, the text box it
  // keeps for movies with text fields, and its error panel (id "panic"). Should a release
  // rename them, screen readers hear the player's name alone, and a movie it gives up on
  // shows its own panel instead of the program's message; playing is not touched.
  const EmulatorParts = { pictures: "canvas", textBoxes: "textarea, input", panic: "panic" };
  function emulatorOf(player) {
    const inner = emulators.get(player);
    return {
      // seen(parts) now and whenever the emulator changes them, until it has panicked.
      watchParts: function (seen) {
        const shadow = player.shadowRoot;
        if (!shadow)
          return;
        const look = function (changes, observer) {
          const parts = { pictures: shadow.querySelectorAll(EmulatorParts.pictures),
                          textBoxes: shadow.querySelectorAll(EmulatorParts.textBoxes),
                          panicked: shadow.getElementById(EmulatorParts.panic) !== null };
          if (parts.panicked && observer)
            observer.disconnect();
          seen(parts);
        };
        look(null, null);
        new MutationObserver(look).observe(shadow, { childList: true, subtree: true });
      },
      menu: function () {
        const instance = inner && inner.instance;
        return instance && typeof instance.prepare_context_menu === "function" ? instance.prepare_context_menu() : [];
      },
      choose: function (index) {
        if (inner && inner.instance)
          inner.instance.run_context_menu_callback(index);
      },
      closed: function () {
        if (inner && inner.instance)
          inner.instance.clear_custom_menu_items();
      },
      // A function the movie offers its page (ExternalInterface.addCallback), called.
      invoke: function (name, args) {
        if (inner && typeof inner.callExternalInterface === "function")
          inner.callExternalInterface(name, args);
      },
      // told(name) as the movie offers a function, besides what the emulator does itself.
      whenOffered: function (told) {
        if (!inner)
          return;
        const own = inner.onCallbackAvailable;
        inner.onCallbackAvailable = function (name) {
          if (typeof own === "function")
            own.call(this, name);
          told(String(name));
        };
      },
    };
  }

  // The emulator's own entries, as it words them in Chinese (the engine's language), and as
  // the program shows them: it lists them before the movie's own, and its "rewind" and
  // "back" read alike. Should it word them otherwise, its entries come after the movie's.
  const EmulatorEntries = { "播放": "播放", "后退": "倒带", "前进": "前进", "返回": "后退",
                            "质量：低": "画质：低", "质量：中": "画质：中", "质量：高": "画质：高",
                            "剪切": "剪切", "复制": "复制", "粘贴": "粘贴", "删除": "删除", "全选": "全选" };
  // What a page's menu=false takes away; a text field's editing stays.
  const PlaybackEntries = ["播放", "后退", "前进", "返回", "质量：低", "质量：中", "质量：高"];

  // The entries of the movie's menu as the program shows them: the movie's own first,
  // then the emulator's (of those, only editing where the page asked for a short menu);
  // bounded, as data.
  const MaxMenuItems = 40;
  const MaxMenuText = 100;
  function menuEntries(list, shortMenu) {
    const all = [];
    if (!Array.isArray(list))
      return all;
    for (let i = 0; i < list.length && all.length < MaxMenuItems; ++i) {
      const item = list[i];
      if (!item || typeof item.caption !== "string")
        continue;
      const text = item.caption.replace(/[\u0000-\u001f\u007f]/g, " ").trim().slice(0, MaxMenuText);
      if (text)
        all.push({ index: i, text: text, enabled: item.enabled !== false, checked: item.checked === true,
                   separator: item.separatorBefore === true });
    }
    let own = 0; // the emulator's lead
    while (own < all.length && Object.prototype.hasOwnProperty.call(EmulatorEntries, all[own].text))
      ++own;
    const emulators = all.slice(0, own).filter(function (e) { return !shortMenu || PlaybackEntries.indexOf(e.text) < 0; });
    emulators.forEach(function (e) { e.text = EmulatorEntries[e.text]; });
    if (emulators.length)
      emulators[0].separator = true;
    return all.slice(own).concat(emulators);
  }

  // The movie's menu is the program's own: a person's right click, the menu key or
  // Shift+F10 asks the program for it (ask: the entries, whether the keyboard asked and
  // where; the answer: the index chosen, or -1), never the emulator's drawn one, which a
  // small frame clips. The movie waits while the menu is up and goes on after it closes.
  function movieMenu(win, emulator, ask, shortMenu) {
    let open = false;
    let frameOffset = null; // the frame's place on the screen, as the pointer tells it
    win.addEventListener("pointermove", function (e) {
      if (e.isTrusted)
        frameOffset = [e.screenX - e.clientX, e.screenY - e.clientY];
    }, true);
    const show = function (byKey) {
      if (open)
        return;
      let entries;
      try {
        entries = menuEntries(emulator.menu(), shortMenu);
      } catch (e) {
        entries = [];
      }
      if (!entries.length) {
        emulator.closed();
        return;
      }
      open = true;
      // The keyboard's menu stands over the middle of the movie, where known.
      let at = null;
      if (byKey && frameOffset)
        at = [Math.round(frameOffset[0] + win.innerWidth / 2), Math.round(frameOffset[1] + win.innerHeight / 2)];
      Promise.resolve().then(function () { return ask({ entries: entries, byKey: byKey, at: at }); })
        .then(function (answer) {
          const chosen = Number(answer);
          if (entries.some(function (e) { return e.index === chosen && e.enabled; }))
            emulator.choose(chosen);
        }, function () {})
        .then(function () {
          open = false;
          emulator.closed();
        });
    };
    win.addEventListener("contextmenu", function (e) {
      if (!e.isTrusted)
        return;
      e.preventDefault();
      e.stopImmediatePropagation();
      show(e.button !== 2);
    }, true);
    win.addEventListener("keydown", function (e) {
      if (!e.isTrusted || !(e.key === "ContextMenu" || (e.key === "F10" && e.shiftKey)))
        return;
      e.preventDefault();
      e.stopImmediatePropagation();
      show(true);
    }, true);
  }

  // A viewer's own player page names its session and movie in its address; a frame in a
  // web page gets its movie by message from the program's finder in the page that holds
  // it (the page can read a frame's address, so it holds only a one-time id), once it
  // has said it is there, with a proof that its host trades, once, for its session. The
  // page's own scripts hear the frame too and may answer first: a message counts only
  // once the host takes its proof, and the frame listens on past wrong ones for a while.
  const HelloFromPlayer = Shared.helloFromPlayer; // Shared: written in by the program
  const HandoverMs = 10000;
  const MaxHandoverChecks = 16;
  function whatToPlay(then, trade) {
    const query = new URLSearchParams(location.search);
    if (query.has("session"))
      return then(query.get("session") || "", query.get("movie") || "", null, (query.get("title") || "").slice(0, Shared.maxTitleChars),
                  null, query.get("offer") === "1");
    const id = query.get("handover") || "";
    if (window.parent === window || !id)
      return then("", "", null, "");
    let done = false;
    let checks = 0;
    const stop = function () {
      done = true;
      window.removeEventListener("message", told);
    };
    const told = function (event) {
      const data = event.data;
      // From the program's finder, in the document that holds this frame.
      const port = event.ports && event.ports.length === 1 ? event.ports[0] : null;
      const refuse = function () {
        if (port)
          port.close();
      };
      if (done || event.source !== window.parent || !data || !port || typeof data.proof !== "string"
          || typeof data.movie !== "string")
        return refuse();
      if (++checks > MaxHandoverChecks) {
        refuse();
        return stop();
      }
      trade(id, data.proof.slice(0, 64)).then(function (session) {
        if (!session || done)
          return refuse();
        stop();
        // A movie in a page: the page's markup gave its settings (bounded, known ones only).
        // The page's side speaks to it over the port that came with them, and nowhere else.
        then(session, data.movie.slice(0, 65536), parseSettings(String(data.params || "{}")),
             typeof data.title === "string" ? data.title.slice(0, Shared.maxTitleChars) : "", port);
      });
    };
    window.addEventListener("message", told);
    window.setTimeout(stop, HandoverMs);
    window.parent.postMessage(HelloFromPlayer, "*");
  }

  // The session for a frame's proof, or "" if its host has none: asked again a few times,
  // as the finder's request for the player may reach the program just after the frame.
  function handoverTrader(nativeFetch, here, wait) {
    return async function trade(id, proof) {
      for (let tries = 0; tries < 4; ++tries) {
        if (tries)
          await wait(250 * tries);
        try {
          const r = await nativeFetch(new URL("handover/" + encodeURIComponent(id) + "?proof=" + encodeURIComponent(proof),
                                              here).href, { credentials: "omit", cache: "no-store" });
          if (r.status === 200) {
            const session = (await r.text()).trim();
            return /^[0-9a-f]{1,64}$/.test(session) ? session : "";
          }
        } catch (e) {
          // the host is going: no session
        }
      }
      return "";
    };
  }

  function start() {
    const here = new URL(".", location.href);
    const emulatorRoot = new URL("ruffle/", here).href;
    const nativeFetch = window.fetch.bind(window);
    // Fetches and new windows are the player's from the start, before the emulator
    // loads; they reach the movie's session once the player knows it.
    let relay = null;
    let movieAddress = ""; // its real address once it has arrived
    const slots = sharedSlots(function (broke) {
      const worker = new SharedWorker(new URL("loads.js", here).href, { name: "photoforKP-loads" });
      worker.onerror = broke;
      return worker.port;
    }, loadSlots(MaxLoadsAtOnce), null, new URLSearchParams(location.search).has("session"));
    window.addEventListener("pagehide", function () { if (slots.leave) slots.leave(); });
    const fetcher = movieFetcher(nativeFetch, function () { return relay; }, emulatorRoot, null, slots);
    Object.defineProperty(window, "fetch", { value: fetcher.fetch, writable: false, configurable: false });
    const clock = emulatorClock(window);
    const openWindow = windowOpener(window.open.bind(window), function () { return movieAddress; });
    Object.defineProperty(window, "open", { value: openWindow, writable: false, configurable: false });
    stayPut(window);

    // The album player's settings, mapped onto the emulator's options: set before the
    // emulator's script runs, which reads them once (without them it would put a Flash
    // player of its own into the page and replace what it finds there).
    window.RufflePlayer = window.RufflePlayer || {};
    window.RufflePlayer.config = {
      publicPath: emulatorRoot,
      polyfills: false,
      autoplay: "on",            // playback starts as soon as the movie is loaded
      unmuteOverlay: "hidden",   // ... with no click needed first
      splashScreen: false,
      quality: "high",
      scale: "showAll",
      wmode: "window",
      allowNetworking: "all",    // what the relay allows, that is
      allowFullscreen: false,
      allowScriptAccess: false,  // a movie never runs script in this page
      openUrlMode: "allow",      // a new window goes to the program (see open below)
      menu: true,
      contextMenu: "on",
      upgradeToHttps: false,
      warnOnUnsupportedContent: false,
      showSwfDownload: false,
      logLevel: "error",
      // The emulator has no loop or device-font option: movies loop, and text uses the
      // movie's embedded fonts, as the player's stock values have it.
    };

    // A warm-up: the emulator compiled in this page process ahead of the next album,
    // on a blank movie of its own, with nothing fetched from any site. Never in a frame:
    // a page could make any number of them.
    if (new URLSearchParams(location.search).has("warm") && window.top === window) {
      document.addEventListener("DOMContentLoaded", function () {
        const player = window.RufflePlayer.newest().createPlayer();
        player.style.width = player.style.height = "1px";
        document.getElementById("player").appendChild(player);
        player.ruffle().load({ data: BlankMovie, autoplay: "off", preferredRenderer: "canvas" }).catch(function () {});
      });
      return;
    }

    const trade = handoverTrader(nativeFetch, here, function (ms) {
      return new Promise(function (resolve) { setTimeout(resolve, ms); });
    });
    whatToPlay(function (session, movie, embedded, title, pagePort, offerArchive) {
      relay = new URL("relay/" + encodeURIComponent(session), here).href;
      movieAddress = movie;
      const go = function () {
        play({ session: session, movie: movie, embedded: embedded, title: title, pagePort: pagePort, relay: relay,
               offerArchive: !!offerArchive && !embedded,
               here: here, emulatorRoot: emulatorRoot,
               nativeFetch: nativeFetch, fetcher: fetcher, clock: clock,
               arrived: function (real) { movieAddress = real; } });
      };
      if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", go);
      else
        go();
    }, trade);
  }

  // The page's parts around the emulator: its title, the loading bar, the message that
  // replaces the player, and what the program is told of the movie ("painted" once its
  // first frame is on the screen, "failed" when it cannot play).
  function playerView(setup) {
    const words = setup.embedded ? Words.movie : Words.album;
    const element = function (id) { return document.getElementById(id); };
    const tell = function (state) {
      setup.nativeFetch(new URL("state/" + encodeURIComponent(setup.session) + "?" + state, setup.here).href,
                        { credentials: "omit", cache: "no-store", referrerPolicy: "no-referrer" }).catch(function () {});
    };
    let reported = "";
    let failed = false;
    // The loading bar shows from a second after the start until the movie draws (or
    // cannot): a quick movie flashes nothing, and a silent site shows more than white.
    let progressDue = false;
    let progressNow = null; // [received, total] once the answer has begun

    const view = {
      words: words,
      // What a screen reader calls the player: the movie (the album's name, say).
      title: setup.title || words.name,
      failed: function () { return failed; },
      report: function (state) {
        if (reported)
          return;
        reported = state;
        element("progress").hidden = true;
        tell(state);
      },
      fail: function (text) {
        if (failed)
          return;
        failed = true;
        view.report("failed");
        const player = element("ruffle");
        if (player)
          player.remove();
        element("player").style.display = "none";
        element("progress").hidden = true;
        const message = element("message");
        message.textContent = text;
        // An album that cannot load: the viewer may offer its copy in a web archive.
        if (text === words.loadFailed && setup.offerArchive) {
          const offer = document.createElement("button");
          offer.type = "button";
          offer.id = "archive";
          offer.textContent = OpenArchived;
          offer.addEventListener("click", function () {
            offer.disabled = true;
            tell("archive");
          });
          message.appendChild(offer);
        }
        message.style.display = "flex";
      },
      startProgressClock: function () {
        setTimeout(function () {
          progressDue = true;
          view.drawProgress();
        }, 1000);
      },
      showProgress: function (received, total) {
        progressNow = [received, total];
        view.drawProgress();
      },
      drawProgress: function () {
        const progress = element("progress");
        if (!progressDue || reported)
          return;
        progress.hidden = false;
        const bar = element("bar");
        // A progress bar to screen readers, with its value where the total is known.
        progress.setAttribute("aria-label", words.loading);
        const received = progressNow ? progressNow[0] : 0;
        const total = progressNow ? progressNow[1] : 0;
        const label = element("label");
        label.textContent = progressLabel(words.loading, received, total, function (line) {
          label.textContent = line;
          return label.scrollWidth <= label.clientWidth;
        });
        if (total > 0) {
          const percent = Math.min(100, Math.floor(received * 100 / total));
          bar.classList.remove("unknown");
          element("fill").style.width = percent + "%";
          progress.setAttribute("aria-valuenow", String(percent));
          progress.setAttribute("aria-valuetext", total >= 1000 ? percent + "%（" + sizes(received, total) + "）" : percent + "%");
        } else {
          bar.classList.add("unknown");
          progress.removeAttribute("aria-valuenow");
          progress.setAttribute("aria-valuetext", received >= 1000 ? sizes(received, 0) : words.loading);
        }
      },
      // The movie's bytes, counted as the emulator takes them; the bar is redrawn a few
      // times a second, not for every piece.
      counted: function (body, total) {
        let received = 0;
        let shown = 0;
        const counter = new TransformStream({
          transform(chunk, controller) {
            received += chunk.byteLength;
            const now = performance.now();
            if (now - shown > 100) {
              shown = now;
              view.showProgress(received, total);
            }
            controller.enqueue(chunk);
          },
          flush() { element("progress").hidden = true; },
        });
        body.pipeTo(counter.writable).catch(function () { view.fail(words.loadFailed); });
        return counter.readable;
      },
    };
    return view;
  }

  // The emulator's player for the movie that arrived (real: where it came from), in the
  // page: talking to its page if it stands in one, with the program's menu, named for
  // screen readers, its first frame and its failure told.
  function startEmulator(setup, view, real) {
    let scripting = null;
    if (setup.embedded && setup.pagePort) {
      scripting = pageScripting(setup.pagePort, performance.now.bind(performance));
      externalCalls(window, scripting.call);
      scripting.arrived(real);
    }
    const player = createPlayer();
    const emulator = emulatorOf(player);
    if (scripting) {
      scripting.attach(emulator);
      emulator.whenOffered(scripting.offered);
    }
    player.id = "ruffle";
    player.style.width = "100%";
    player.style.height = "100%";
    document.getElementById("player").appendChild(player);
    movieMenu(window, emulator, function (menu) {
      return setup.nativeFetch(new URL("menu/" + encodeURIComponent(setup.session), setup.here).href,
                               { method: "POST", body: JSON.stringify(menu), headers: { "Content-Type": "application/json" },
                                 credentials: "omit", cache: "no-store", referrerPolicy: "no-referrer" })
        .then(function (r) { return r.ok ? r.text() : "-1"; });
    }, !!setup.embedded && !flag(setup.embedded.menu, true));
    player.setAttribute("aria-label", view.title);
    emulator.watchParts(function (parts) {
      parts.pictures.forEach(function (c) {
        c.setAttribute("role", "img");
        c.setAttribute("aria-label", view.title);
      });
      parts.textBoxes.forEach(function (t) { t.setAttribute("aria-label", view.title + "的文字输入"); });
      // Should the emulator give up on the movie, the same plain message replaces its
      // error panel and the panel's links away.
      if (parts.panicked)
        view.fail(view.words.cannotPlay);
    });
    player.addEventListener("loadedmetadata", function () {
      const metadata = player.ruffle().metadata;
      setup.clock.frameRateKnown(metadata ? metadata.frameRate : 0);
      // The emulator draws the first frame on its next tick after the header.
      requestAnimationFrame(function () {
        requestAnimationFrame(function () {
          if (!view.failed())
            view.report("painted");
        });
      });
    });
    return player;
  }

  // The movie's address checked, its answer asked of the relay, then played.
  async function loadMovie(setup, view) {
    const words = view.words;
    let url;
    try {
      url = new URL(setup.movie); // data only, never markup
    } catch (e) {
      return view.fail(words.badAddress);
    }
    if (url.protocol !== "http:" && url.protocol !== "https:")
      return view.fail(words.notWeb);
    let answer;
    try {
      answer = await setup.nativeFetch(setup.relay + "?kind=movie", relayOptions);
    } catch (e) {
      return view.fail(words.loadFailed);
    }
    if (answer.status === 415)
      return view.fail(words.cannotPlay);
    if (!answer.ok)
      return view.fail(words.loadFailed);
    const real = answer.headers.get("X-Relay-Url") || url.href;
    setup.arrived(real);
    const total = Number(answer.headers.get("X-Relay-Length") || answer.headers.get("Content-Length")) || 0;
    view.showProgress(0, total);
    setup.fetcher.movieArrived(asSeenByMovie(view.counted(answer.body, total), answer, real), [url.href, real]);
    const player = startEmulator(setup, view, real);
    try {
      await player.ruffle().load(loadOptions(real, setup.embedded));
    } catch (e) {
      view.fail(words.loadFailed);
    }
  }

  function play(setup) {
    // The player never goes full screen; the emulator's menu offers it whenever the
    // document says it could.
    ["fullscreenEnabled", "webkitFullscreenEnabled"].forEach(function (name) {
      Object.defineProperty(Document.prototype, name, { get: function () { return false; }, configurable: true });
    });
    const view = playerView(setup);
    document.title = view.title;
    if (setup.embedded)
      document.documentElement.classList.add("embedded");
    view.startProgressClock();
    loadMovie(setup, view);
  }

  // Under Node, for the unit tests: the pure parts, and no page to start.
  if (typeof window === "undefined" && typeof module === "object" && module && module.exports)
    module.exports = { MaxBodyBytes, MaxLoadsAtOnce, progressLabel, MaxLoadsWaiting, loadSlots, sharedSlots, parseSettings, flag, embeddedOptions, asSeenByMovie, addressKey,
                       movieFetcher, windowOpener, loadOptions, emulatorClock, menuEntries, movieMenu, handoverTrader,
                       externalCalls, pageScripting };
  else
    start();
})();
