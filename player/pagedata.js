// What may pass between a movie and the page it stands in: data only (strings, finite
// numbers, booleans, null, arrays and plain objects), never a function, a node or any
// other object, at most MaxBytes of JSON a value and MaxDepth deep. Values cross as JSON
// text: each side makes it with toData and reads it with fromData, which checks again.
const PageData = (function () {
  "use strict";
  const MaxBytes = 65536;
  const MaxDepth = 16;
  // Taken as the script starts, before a page's scripts could replace them.
  const stringify = JSON.stringify;
  const parse = JSON.parse;
  const isArray = Array.isArray;
  const getPrototypeOf = Object.getPrototypeOf;
  const keys = Object.keys;
  const ObjectProto = Object.prototype;
  const ArrayProto = Array.prototype;

  // A copy of value made of data alone, or undefined if it holds anything else.
  function plain(value, depth, budget) {
    if (value === null || value === undefined)
      return null;
    switch (typeof value) {
      case "string":
        budget.left -= value.length;
        return budget.left < 0 ? undefined : value;
      case "boolean":
        return value;
      case "number":
        return isFinite(value) ? value : null;
      case "object":
        break;
      default:
        return undefined; // functions, symbols, bigints
    }
    if (depth >= MaxDepth || --budget.left < 0)
      return undefined;
    const proto = getPrototypeOf(value);
    if (isArray(value)) {
      if (proto !== ArrayProto)
        return undefined;
      const out = [];
      for (let i = 0; i < value.length; ++i) {
        const v = plain(value[i], depth + 1, budget);
        if (v === undefined)
          return undefined;
        out.push(v);
      }
      return out;
    }
    if (proto !== null && proto !== ObjectProto)
      return undefined; // nodes, dates, maps, class instances
    const out = {};
    const names = keys(value);
    for (let i = 0; i < names.length; ++i) {
      budget.left -= names[i].length;
      const v = plain(value[names[i]], depth + 1, budget);
      if (v === undefined || budget.left < 0)
        return undefined;
      out[names[i]] = v;
    }
    return out;
  }

  // value as JSON text, or null if it is not data or is too much.
  function toData(value) {
    let copy;
    try {
      copy = plain(value, 0, { left: MaxBytes });
    } catch (e) {
      return null; // a getter that threw, say
    }
    if (copy === undefined)
      return null;
    const text = stringify(copy);
    return text.length <= MaxBytes ? text : null;
  }

  function depthOf(value, depth) {
    if (value === null || typeof value !== "object" || depth > MaxDepth)
      return depth;
    let deepest = depth + 1;
    const items = isArray(value) ? value : Object.values(value);
    for (let i = 0; i < items.length && deepest <= MaxDepth; ++i)
      deepest = Math.max(deepest, depthOf(items[i], depth + 1));
    return deepest;
  }

  // The value JSON text stands for, or undefined if it is not text of data within the bounds.
  function fromData(text) {
    if (typeof text !== "string" || text.length > MaxBytes)
      return undefined;
    let value;
    try {
      value = parse(text);
    } catch (e) {
      return undefined;
    }
    return depthOf(value, 0) <= MaxDepth ? value : undefined;
  }

  // A dotted path of names from the page's window, such as "player.onReady": never code.
  function isPath(name) {
    return typeof name === "string" && name.length <= 256
           && /^[A-Za-z_$][\w$]*(\.[A-Za-z_$][\w$]*)*$/.test(name)
           && !/(^|\.)(__proto__|prototype|constructor)(\.|$)/.test(name);
  }

  // A name a movie offers its page a function by: one name, set on its element.
  function isName(name) {
    return isPath(name) && name.length <= 100 && name.indexOf(".") < 0;
  }

  // Whether one more call fits: at most limit in any second.
  function rate(limit, now) {
    const times = [];
    return function allowed() {
      const t = now();
      while (times.length && t - times[0] >= 1000)
        times.shift();
      if (times.length >= limit)
        return false;
      times.push(t);
      return true;
    };
  }

  return { MaxBytes: MaxBytes, MaxDepth: MaxDepth, MaxCallsPerSecond: 100, toData: toData, fromData: fromData,
           isPath: isPath, isName: isName, rate: rate };
})();

if (typeof window === "undefined" && typeof module === "object" && module && module.exports)
  module.exports = PageData;
