// Turns at the player host's connections, shared by every player of the program (one
// worker for them all). The engine opens at most six connections to one host, and a new
// player's page, emulator files and movie come from the player host too: the movies'
// loads together hold at most four, handed out in turn, one player after another, so no
// movie or page full of movies keeps the next player or another movie waiting. A turn
// is held until its player gives it back, or leaves, or has said nothing of it for a while
// (a player whose frame went without a word), and never past a minute in all (the relay
// ends a load then; a trickle would hold its turn for ever). An album viewer's player
// goes ahead of the movies in pages: its loads are the ones a person waits on.
(function () {
  "use strict";

  const MaxLoadsAtOnce = 4;
  const LeaseMs = 35000;
  const MostMs = 65000; // a little past the relay's end of a load, which comes first
  const MaxWaitingPerPlayer = 256;

  function turns(limit, now) {
    const players = [];
    let next = 0; // whose turn comes first
    let busy = 0;

    function grant() {
      while (busy < limit) {
        let chosen = null;
        for (const first of [true, false]) {
          for (let i = 0; i < players.length && !chosen; ++i) {
            const p = players[(next + i) % players.length];
            if (p.waiting.length > 0 && (p.album || !first)) {
              chosen = p;
              next = (next + i + 1) % players.length;
            }
          }
        }
        if (!chosen)
          return;
        const id = chosen.waiting.shift();
        const t = now();
        chosen.held.set(id, { until: t + LeaseMs, most: t + MostMs });
        ++busy;
        chosen.send({ granted: id });
      }
    }

    function release(player, id) {
      if (player.held.delete(id)) {
        --busy;
        return true;
      }
      return false;
    }

    return {
      join: function (send) {
        const player = { send: send, waiting: [], held: new Map(), album: false };
        players.push(player);
        return player;
      },
      take: function (player, id) {
        if (player.waiting.length >= MaxWaitingPerPlayer || player.held.has(id) || player.waiting.indexOf(id) >= 0)
          return;
        player.waiting.push(id);
        grant();
      },
      give: function (player, id) {
        const i = player.waiting.indexOf(id);
        if (i >= 0)
          player.waiting.splice(i, 1);
        if (release(player, id))
          grant();
      },
      renew: function (player, id) {
        const turn = player.held.get(id);
        if (turn)
          turn.until = Math.min(now() + LeaseMs, turn.most);
      },
      album: function (player) {
        player.album = true;
        grant();
      },
      leave: function (player) {
        const i = players.indexOf(player);
        if (i < 0)
          return;
        busy -= player.held.size;
        players.splice(i, 1);
        if (next > i)
          --next;
        if (players.length)
          next %= players.length;
        else
          next = 0;
        grant();
      },
      sweep: function () {
        const t = now();
        let freed = false;
        players.forEach(function (p) {
          p.held.forEach(function (turn, id) {
            if (turn.until <= t)
              freed = release(p, id) || freed;
          });
        });
        if (freed)
          grant();
      },
      busy: function () { return busy; },
      players: function () { return players.length; },
    };
  }

  // In the worker: a player speaks only through its own port, in small known messages.
  function serve(scope) {
    const shared = turns(MaxLoadsAtOnce, function () { return Date.now(); });
    let sweeper = null;
    scope.onconnect = function (event) {
      const port = event.ports[0];
      const player = shared.join(function (message) { port.postMessage(message); });
      port.onmessage = function (e) {
        const m = e.data;
        if (!m || typeof m !== "object")
          return;
        if (m.bye === true)
          return shared.leave(player);
        if (m.album === true)
          return shared.album(player);
        const id = m.take || m.give || m.renew;
        if (typeof id !== "number" || !Number.isSafeInteger(id))
          return;
        if (m.take)
          shared.take(player, id);
        else if (m.give)
          shared.give(player, id);
        else
          shared.renew(player, id);
        if (!sweeper)
          sweeper = scope.setInterval(function () {
            shared.sweep();
            if (shared.busy() === 0) {
              scope.clearInterval(sweeper);
              sweeper = null;
            }
          }, 5000);
      };
      port.start();
    };
  }

  if (typeof module === "object" && module && module.exports)
    module.exports = { MaxLoadsAtOnce, LeaseMs, MostMs, MaxWaitingPerPlayer, turns };
  else
    serve(self);
})();
