// What the program writes in before the player's and the finder's scripts
// (PlayerHost::sharedScript); required first by the tests that load them.
"use strict";
globalThis.Shared = Object.freeze({ maxTitleChars: 200, helloFromPlayer: "photoforKP:player" });
