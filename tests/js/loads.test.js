// The turns all players share at the player host's connections.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
require("./shared.js");
const loads = require("../../player/loads.js");

test("players take turns: four loads at once in all, one player after another, none left out", () => {
  let now = 0;
  const t = loads.turns(loads.MaxLoadsAtOnce, () => now);
  const granted = [];
  const join = (name) => t.join((m) => granted.push(name + m.granted));
  const hoarder = join("h"), other = join("o");
  for (let i = 1; i <= 8; ++i)
    t.take(hoarder, i);
  assert.deepEqual(granted, ["h1", "h2", "h3", "h4"]);
  t.take(other, 1);
  const late = join("n");
  t.take(late, 1);
  t.give(hoarder, 1);
  t.give(hoarder, 2);
  t.give(hoarder, 3);
  assert.deepEqual(granted.slice(4), ["o1", "n1", "h5"]);
  t.give(hoarder, 99); // never held: frees nothing
  t.take(other, 1);    // held already: not twice
  assert.equal(t.busy(), 4);
  // A player gone without a word: its turns come back once unheard of for a while.
  now += loads.LeaseMs - 1;
  t.renew(other, 1);
  now += 1;
  t.sweep();
  assert.deepEqual(granted.slice(7), ["h6", "h7", "h8"]); // o1 was heard of
  t.leave(late);
  t.leave(other); // o1 goes with it
  assert.equal(t.busy(), 3);
  assert.equal(t.players(), 1);
});

test("an album's loads go ahead of pages' movies; a turn kept moving still ends", () => {
  let now = 0;
  const t = loads.turns(loads.MaxLoadsAtOnce, () => now);
  const granted = [];
  const join = (name) => t.join((m) => granted.push(name + m.granted));
  const page = join("p"), album = join("a");
  for (let i = 1; i <= 8; ++i)
    t.take(page, i);
  t.album(album);
  t.take(album, 1);
  t.take(album, 2);
  t.give(page, 1);
  t.give(page, 2);
  t.give(page, 3);
  assert.deepEqual(granted.slice(4), ["a1", "a2", "p5"]);
  // A trickle renews its turns for ever; they end all the same.
  for (now = 0; now < loads.MostMs; now += 1000) {
    [[page, 4], [page, 5], [album, 1], [album, 2]].forEach(([p, id]) => t.renew(p, id));
    t.sweep();
    assert.equal(granted.length, 7);
  }
  t.sweep();
  assert.deepEqual(granted.slice(7), ["p6", "p7", "p8"]);
});

test("a player asks through the shared turns, and falls back to its own four if the worker fails", async () => {
  const posted = [];
  let broke;
  const port = { postMessage: (m) => posted.push(m) };
  const { sharedSlots, loadSlots } = require("../../player/player.js");
  const slots = sharedSlots((b) => { broke = b; return port; }, loadSlots(4), null, true);
  const first = slots.take();
  assert.deepEqual(posted, [{ album: true }, { take: 1 }]);
  port.onmessage({ data: { granted: 7 } }); // not asked for
  port.onmessage({ data: { granted: 1 } });
  assert.equal(await first, 1);
  assert.equal(slots.busy(), 1);
  const waiting = slots.take();
  broke();
  await waiting; // from its own turns now
  slots.give(1);
  assert.deepEqual(posted, [{ album: true }, { take: 1 }, { take: 2 }]);
  assert.equal(slots.busy(), 1);
});
