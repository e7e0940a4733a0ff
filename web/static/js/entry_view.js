// The approved list as a list box that keeps only the rows in view in the
// document, so that a list of a million entries loads, scrolls and filters at
// once. The entries themselves are a plain array of texts.
//
// Stable hooks, relied on by the browser tests: the list box (role "listbox")
// holds one .entry-row (role "option", aria-selected) per entry in view, each
// with its .entry-text and a .entry-remove mark to click; data-ready="true" on the
// list box once its entries are in.
import { quote } from "./text.js";

// Row height in pixels: .entry-row in tessera.css has the same.
var ROW_HEIGHT = 30;
// Browsers cap the height of an element near 33 million pixels; a longer
// list is scrolled through a shorter track, its position scaled.
var MAX_TRACK_HEIGHT = 10000000;
var SELECTED = 1;
var NEW = 2;



// `element`: the list box, holding nothing. handlers.onChange is called
// after every change of the entries, the selection or the filter;
// handlers.onRemove with the texts that a row's remove button took out.
export function EntryView(element, handlers) {
  this.element = element;
  this.onChange = handlers.onChange;
  this.onRemove = handlers.onRemove;
  this.entries = [];
  this.flags = new Uint8Array(16);
  this.lowered = null;
  this.filter = "";
  // Indexes of the entries that the filter lets through, or null for all.
  this.matches = null;
  this.active = 0;
  this.anchor = 0;
  this.track = document.createElement("div");
  this.track.className = "entry-view-track";
  this.rows = document.createElement("div");
  this.rows.className = "entry-view-rows";
  this.empty = document.createElement("p");
  this.empty.className = "entry-view-empty";
  this.empty.hidden = true;
  element.append(this.track, this.rows, this.empty);
  element.addEventListener("scroll", this.render.bind(this));
  element.addEventListener("mousedown", this.onMouseDown.bind(this));
  element.addEventListener("keydown", this.onKeyDown.bind(this));
  element.addEventListener("focus", this.render.bind(this));
  window.addEventListener("resize", this.render.bind(this));
}

EntryView.prototype = {
  setEntries: function (entries) {
    this.entries = entries;
    this.flags = new Uint8Array(Math.max(16, entries.length));
    this.lowered = null;
    this.applyFilter("");
    this.render();
    this.element.setAttribute("data-ready", "true");
  },

  count: function () {
    return this.entries.length;
  },

  shownCount: function () {
    return this.matches ? this.matches.length : this.entries.length;
  },

  // Index of the entry shown at `position`.
  entryAt: function (position) {
    return this.matches ? this.matches[position] : position;
  },

  selectedIndexes: function () {
    var indexes = [];
    for (var i = 0; i < this.entries.length; i++) {
      if (this.flags[i] & SELECTED) {
        indexes.push(i);
      }
    }
    return indexes;
  },

  // Lower-case copies for the filter, made once: each keystroke then costs
  // one substring search per entry.
  prepareFilter: function () {
    if (!this.lowered) {
      this.lowered = this.entries.map(function (entry) {
        return entry.toLowerCase();
      });
    }
  },

  setFilter: function (text) {
    this.applyFilter(text.trim().toLowerCase());
    this.element.scrollTop = 0;
    this.render();
    this.onChange();
  },

  applyFilter: function (needle) {
    var previous = this.filter;
    this.filter = needle;
    this.active = 0;
    this.anchor = 0;
    if (needle === "") {
      this.matches = null;
      return;
    }
    this.prepareFilter();
    var lowered = this.lowered;
    // Typing on narrows what is shown already.
    var narrowing = this.matches && previous !== "" && needle.indexOf(previous) >= 0;
    var candidates = narrowing ? this.matches : null;
    var total = candidates ? candidates.length : lowered.length;
    var matches = new Int32Array(total);
    var found = 0;
    for (var i = 0; i < total; i++) {
      var index = candidates ? candidates[i] : i;
      if (lowered[index].indexOf(needle) >= 0) {
        matches[found++] = index;
      }
    }
    this.matches = matches.subarray(0, found);
  },

  // Appends `added` (texts the caller has checked), selects and marks them,
  // and scrolls the first into view.
  add: function (added) {
    if (added.length === 0) {
      return;
    }
    var first = this.entries.length;
    var needed = first + added.length;
    if (needed > this.flags.length) {
      var grown = new Uint8Array(Math.max(needed, this.flags.length * 2));
      grown.set(this.flags);
      this.flags = grown;
    }
    for (var i = 0; i < first; i++) {
      this.flags[i] = 0;
    }
    for (var j = 0; j < added.length; j++) {
      this.entries.push(added[j]);
      this.flags[first + j] = SELECTED | NEW;
      if (this.lowered) {
        this.lowered.push(added[j].toLowerCase());
      }
    }
    var hidden = this.filter !== "" && this.lowered[first].indexOf(this.filter) < 0;
    this.applyFilter(hidden ? "" : this.filter);
    this.anchor = this.positionOf(first);
    this.active = this.anchor;
    this.scrollToPosition(this.active);
    this.render();
    this.onChange();
  },

  // Removes the entries whose indexes are in `doomed` (ascending); returns
  // the texts removed.
  removeIndexes: function (doomed) {
    if (doomed.length === 0) {
      return [];
    }
    var removed = [];
    var kept = 0;
    var next = 0;
    for (var i = 0; i < this.entries.length; i++) {
      if (next < doomed.length && doomed[next] === i) {
        removed.push(this.entries[i]);
        next++;
        continue;
      }
      this.entries[kept] = this.entries[i];
      this.flags[kept] = this.flags[i];
      if (this.lowered) {
        this.lowered[kept] = this.lowered[i];
      }
      kept++;
    }
    this.entries.length = kept;
    this.flags.fill(0, kept);
    if (this.lowered) {
      this.lowered.length = kept;
    }
    var active = this.active;
    this.applyFilter(this.filter);
    this.active = Math.min(active, Math.max(0, this.shownCount() - 1));
    this.anchor = this.active;
    this.render();
    this.onChange();
    return removed;
  },

  removeSelected: function () {
    return this.removeIndexes(this.selectedIndexes());
  },

  positionOf: function (index) {
    if (!this.matches) {
      return index;
    }
    for (var i = 0; i < this.matches.length; i++) {
      if (this.matches[i] === index) {
        return i;
      }
    }
    return 0;
  },

  // Selects the shown entries from the anchor to `position`, or toggles
  // the one at `position`, or selects it alone.
  select: function (position, how) {
    var shown = this.shownCount();
    if (shown === 0) {
      return;
    }
    position = Math.max(0, Math.min(position, shown - 1));
    if (how === "range") {
      this.clearSelection();
      var from = Math.min(this.anchor, position);
      var to = Math.max(this.anchor, position);
      for (var p = from; p <= to; p++) {
        this.flags[this.entryAt(p)] |= SELECTED;
      }
    } else if (how === "toggle") {
      this.flags[this.entryAt(position)] ^= SELECTED;
      this.anchor = position;
    } else if (how === "move") {
      this.anchor = position;
    } else {
      this.clearSelection();
      this.flags[this.entryAt(position)] |= SELECTED;
      this.anchor = position;
    }
    this.active = position;
    this.scrollToPosition(position);
    this.render();
    this.onChange();
  },

  selectAllShown: function () {
    for (var p = 0; p < this.shownCount(); p++) {
      this.flags[this.entryAt(p)] |= SELECTED;
    }
    this.render();
    this.onChange();
  },

  clearSelection: function () {
    for (var i = 0; i < this.entries.length; i++) {
      this.flags[i] &= ~SELECTED;
    }
  },

  // The track is shorter than the list when the list is very long; the
  // first row shown follows the scroll position in proportion.
  geometry: function () {
    var shown = this.shownCount();
    var listHeight = shown * ROW_HEIGHT;
    var trackHeight = Math.min(listHeight, MAX_TRACK_HEIGHT);
    var viewHeight = this.element.clientHeight || 10 * ROW_HEIGHT;
    var scrollRange = Math.max(0, trackHeight - viewHeight);
    var rowRange = Math.max(0, listHeight - viewHeight) / ROW_HEIGHT;
    return { shown: shown, trackHeight: trackHeight, viewHeight: viewHeight, scrollRange: scrollRange, rowRange: rowRange };
  },

  scrollToPosition: function (position) {
    var g = this.geometry();
    // The track must have the list's length before the scroll position can.
    this.track.style.height = g.trackHeight + "px";
    if (g.scrollRange === 0) {
      return;
    }
    var top = this.firstShown(g);
    var inView = Math.floor(g.viewHeight / ROW_HEIGHT);
    if (position >= top && position < top + inView) {
      return;
    }
    var first = position < top ? position : position - inView + 1;
    this.element.scrollTop = (Math.min(first, g.rowRange) / g.rowRange) * g.scrollRange;
  },

  firstShown: function (g) {
    return g.scrollRange === 0 ? 0 : (this.element.scrollTop / g.scrollRange) * g.rowRange;
  },

  render: function () {
    var g = this.geometry();
    this.track.style.height = g.trackHeight + "px";
    var first = this.firstShown(g);
    var firstRow = Math.floor(first);
    var rowCount = Math.min(g.shown - firstRow, Math.ceil(g.viewHeight / ROW_HEIGHT) + 1);
    this.rows.style.transform =
      "translateY(" + (this.element.scrollTop - (first - firstRow) * ROW_HEIGHT) + "px)";
    while (this.rows.childElementCount < rowCount) {
      this.rows.append(makeRow());
    }
    while (this.rows.childElementCount > rowCount) {
      this.rows.lastElementChild.remove();
    }
    var activeId = "";
    for (var r = 0; r < rowCount; r++) {
      var position = firstRow + r;
      var index = this.entryAt(position);
      var row = this.rows.children[r];
      var text = this.entries[index];
      row.id = "approvedEntry" + position;
      row.setAttribute("data-position", String(position));
      row.setAttribute("aria-selected", this.flags[index] & SELECTED ? "true" : "false");
      row.setAttribute("aria-posinset", String(position + 1));
      row.setAttribute("aria-setsize", String(g.shown));
      row.classList.toggle("is-new", (this.flags[index] & NEW) !== 0);
      row.classList.toggle("is-active", position === this.active);
      row.firstChild.textContent = text;
      row.lastChild.setAttribute("aria-label", "Remove " + text);
      if (position === this.active) {
        activeId = row.id;
      }
    }
    if (activeId) {
      this.element.setAttribute("aria-activedescendant", activeId);
    } else {
      this.element.removeAttribute("aria-activedescendant");
    }
    this.empty.hidden = g.shown > 0;
    this.empty.textContent =
      this.entries.length === 0 ? "No approved sites." : "No entry contains " + quote(this.filter) + ".";
  },

  onMouseDown: function (event) {
    var row = event.target.closest(".entry-row");
    if (!row) {
      return;
    }
    var position = Number(row.getAttribute("data-position"));
    if (event.target.closest(".entry-remove")) {
      event.preventDefault();
      this.onRemove(this.removeIndexes([this.entryAt(position)]));
      this.element.focus();
      return;
    }
    var how = event.shiftKey ? "range" : event.ctrlKey || event.metaKey ? "toggle" : "only";
    this.select(position, how);
  },

  onKeyDown: function (event) {
    var inView = Math.max(1, Math.floor(this.geometry().viewHeight / ROW_HEIGHT) - 1);
    var moves = {
      ArrowDown: this.active + 1,
      ArrowUp: this.active - 1,
      PageDown: this.active + inView,
      PageUp: this.active - inView,
      Home: 0,
      End: this.shownCount() - 1,
    };
    if (event.key in moves) {
      event.preventDefault();
      this.select(moves[event.key], event.shiftKey ? "range" : event.ctrlKey ? "move" : "only");
    } else if (event.key === " ") {
      event.preventDefault();
      this.select(this.active, "toggle");
    } else if ((event.key === "a" || event.key === "A") && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      this.selectAllShown();
    }
  },
};

function makeRow() {
  var row = document.createElement("div");
  row.className = "entry-row";
  row.setAttribute("role", "option");
  var text = document.createElement("span");
  text.className = "entry-text";
  // A pointer's shortcut only: an option may hold no control of its own, so
  // the keyboard and screen readers remove with Delete or "Remove selected".
  var remove = document.createElement("span");
  remove.className = "entry-remove";
  remove.setAttribute("aria-hidden", "true");
  remove.title = "Remove";
  remove.textContent = "\u00d7";
  row.append(text, remove);
  return row;
}
