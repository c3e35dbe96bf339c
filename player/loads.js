// Turns at the player host's connections, shared by every player of the program (one
// worker for them all). The engine opens at most six connections to one host, and a new
// player's page, emulator files and movie come from the player host too: the movies'
// loads together hold at most four, handed out in turn, one player after another, so no
// movie or page full of movies keeps the next player or another movie waiting. A turn
// is held until its player gives it back, or leaves, or has said nothing of it for a while
// (a player whose frame went without a word).
(function () {
  "use strict";

  const MaxLoadsAtOnce = 4;
  const LeaseMs = 35000;
  const MaxWaitingPerPlayer = 256;

  function turns(limit, now) {
    const players = [];
    let next = 0; // whose turn comes first
    let busy = 0;

    function grant() {
      while (busy < limit) {
        let chosen = null;
        for (let i = 0; i < players.length && !chosen; ++i) {
          const p = players[(next + i) % players.length];
          if (p.waiting.length > 0) {
            chosen = p;
            next = (next + i + 1) % players.length;
          }
        }
        if (!chosen)
          return;
        const id = chosen.waiting.shift();
        chosen.held.set(id, now() + LeaseMs);
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
        const player = { send: send, waiting: [], held: new Map() };
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
        if (player.held.has(id))
          player.held.set(id, now() + LeaseMs);
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
          p.held.forEach(function (until, id) {
            if (until <= t)
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
    module.exports = { MaxLoadsAtOnce, LeaseMs, MaxWaitingPerPlayer, turns };
  else
    serve(self);
})();
