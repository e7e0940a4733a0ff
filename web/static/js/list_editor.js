// Editing the settings page's approved list: adding typed or imported entries
// through the entry rule, removing them, the number shown, and what each
// change is told as. The list box itself is an EntryView.
import * as page from "./page.js";
import * as rule from "./entry_rule.js";

var MAX_REFUSALS_LISTED = 3;

// `list`: the EntryView; `elements`: { newEntry, filter, message, entryCount }.
export function ListEditor(list, elements) {
  var editor = this;
  // Keys of the entries listed, for the duplicate test of new ones; made at
  // the first addition and kept up to date from then on.
  var listedKeys = null;
  // Listed entries by their ASCII site, for those that have one (see
  // entry_rule.asciiSite); made when first needed, like the keys.
  var listedSites = null;
  // Until the list is in, a save or an export would leave it out.
  this.isLoaded = false;
  // Whether the list was changed since the page was loaded.
  this.hasEdits = false;
  // Each text added (+1) or removed (-1) since the list was loaded or last
  // saved in place: what a save of the list alone has to send.
  var changes = new Map();
  function count(texts, step) {
    texts.forEach(function (text) {
      var net = (changes.get(text) || 0) + step;
      if (net === 0) {
        changes.delete(text);
      } else {
        changes.set(text, net);
      }
    });
  }

  function keysOfListed() {
    if (!listedKeys) {
      listedKeys = new Map();
      list.entries.forEach(function (entry) {
        rule.admit(entry, listedKeys);
      });
    }
    return listedKeys;
  }

  function sitesOfListed() {
    if (!listedSites) {
      listedSites = new Map();
      list.entries.forEach(function (entry) {
        var site = rule.asciiSite(entry);
        if (site && !listedSites.has(site)) {
          listedSites.set(site, entry);
        }
      });
    }
    return listedSites;
  }

  function forgetKeys(removed) {
    removed.forEach(function (entry) {
      var key = page.foldAsciiCase(rule.keyOf(entry));
      if (listedKeys && listedKeys.get(key) === entry) {
        listedKeys.delete(key);
      }
      var site = rule.asciiSite(entry);
      if (listedSites && site && listedSites.get(site) === entry) {
        listedSites.delete(site);
      }
    });
  }

  // The listed entry that names the same site as `entry` in another form.
  function sameSiteListed(entry) {
    var site = rule.asciiSite(entry);
    var listed = site ? sitesOfListed().get(site) : undefined;
    return listed !== undefined && rule.keyOf(listed) !== rule.keyOf(entry) ? listed : "";
  }

  // Warnings about `entry`, the listed entries included.
  function adviceOn(entry) {
    var advice = rule.advise(entry);
    var same = sameSiteListed(entry);
    if (same) {
      advice.push("names the same site as " + page.quote(same));
    }
    return advice;
  }

  // Puts each entry of `texts` (each may hold several, cut at ";") through the
  // entry rule and appends the accepted ones; the new ones end up selected, so
  // that "Remove selected" takes them back.
  this.addEntries = function (texts) {
    var seen = keysOfListed();
    var sites = sitesOfListed();
    var outcome = { added: [], refused: [], advised: [] };
    Array.prototype.forEach.call(texts, function (text) {
      rule.splitEntries(String(text)).forEach(function (entry) {
        var result = rule.admit(entry, seen);
        if (result.problem) {
          outcome.refused.push({ entry: entry, reason: rule.problemText(result) });
          return;
        }
        var advice = adviceOn(result.canonical);
        if (advice.length > 0) {
          outcome.advised.push({ entry: result.canonical, advice: advice });
        }
        var site = rule.asciiSite(result.canonical);
        if (site && !sites.has(site)) {
          sites.set(site, result.canonical);
        }
        outcome.added.push(result.canonical);
      });
    });
    list.add(outcome.added);
    count(outcome.added, 1);
    editor.hasEdits = editor.hasEdits || outcome.added.length > 0;
    // The list clears a filter that would hide the new entries.
    if (list.filter === "") {
      elements.filter.value = "";
    }
    return outcome;
  };

  // isImport: the entries came from the import page, not from the text box.
  this.report = function (outcome, isImport) {
    var parts = [];
    if (outcome.added.length === 1 && !isImport) {
      parts.push("Added " + page.quote(outcome.added[0]) + ".");
    } else if (outcome.added.length > 0) {
      parts.push(
        "Added " +
          (isImport
            ? page.plural(outcome.added.length, "imported entry", "imported entries")
            : page.plural(outcome.added.length, "entry", "entries")) +
          "."
      );
    }
    if (outcome.refused.length > MAX_REFUSALS_LISTED) {
      parts.push(
        "Not added: " + page.plural(outcome.refused.length, "entry", "entries") + " already listed or not valid."
      );
    } else if (outcome.refused.length > 0) {
      var reasons = outcome.refused.map(function (refusal) {
        return page.quote(refusal.entry) + " " + refusal.reason;
      });
      parts.push("Not added: " + reasons.join("; ") + ".");
    }
    if (outcome.advised.length > MAX_REFUSALS_LISTED) {
      parts.push("Check " + page.plural(outcome.advised.length, "entry", "entries") + ": see the import review.");
    } else if (outcome.advised.length > 0) {
      var notes = outcome.advised.map(function (advised) {
        return page.quote(advised.entry) + " " + advised.advice.join(" and ");
      });
      parts.push("Check: " + notes.join("; ") + ".");
    }
    if (outcome.added.length > 0) {
      parts.push("Save to keep the changes.");
    }
    var kind = "success";
    if (outcome.refused.length > 0 || outcome.advised.length > 0) {
      kind = outcome.added.length === 0 && !isImport ? "error" : "warning";
    }
    page.showMessage(elements.message, parts.join(" "), kind);
  };

  // True when the list is in; else says why the action waits.
  this.isReady = function () {
    if (!editor.isLoaded) {
      page.showMessage(elements.message, "The approved list is still loading: try again in a moment.", "warning");
    }
    return editor.isLoaded;
  };

  this.addTypedEntry = function () {
    var newEntry = elements.newEntry;
    if (!editor.isReady()) {
      return;
    }
    if (rule.splitEntries(newEntry.value).length === 0) {
      page.showMessage(elements.message, "Type a site to add, such as example.com.", "error");
      newEntry.focus();
      return;
    }
    var outcome = editor.addEntries([newEntry.value]);
    editor.report(outcome, false);
    // What was refused stays in the box, to be corrected.
    newEntry.value = outcome.refused
      .map(function (refusal) {
        return refusal.entry;
      })
      .join("; ");
    newEntry.focus();
  };

  // The list box's own removals (its rows' buttons) come here too.
  this.reportRemoval = function (removed) {
    forgetKeys(removed);
    count(removed, -1);
    editor.hasEdits = true;
    var what = removed.length === 1 ? page.quote(removed[0]) : page.plural(removed.length, "entry", "entries");
    page.showMessage(elements.message, "Removed " + what + ". Save to keep the changes.", "success");
  };

  // The entries added and removed since the list was loaded or last saved in
  // place, or null when there are more than `most` of them.
  this.listChange = function (most) {
    if (changes.size > most) {
      return null;
    }
    var change = { add: [], remove: [] };
    changes.forEach(function (net, text) {
      (net > 0 ? change.add : change.remove).push(text);
    });
    return change;
  };
  // The list as shown is now the list as stored.
  this.markSaved = function () {
    changes.clear();
    editor.hasEdits = false;
  };

  this.removeSelectedEntries = function () {
    var removed = list.removeSelected();
    if (removed.length === 0) {
      page.showMessage(elements.message, "Select the entries to remove first.", "info");
      return;
    }
    editor.reportRemoval(removed);
  };

  this.showEntryCount = function () {
    var total = list.count();
    elements.entryCount.textContent =
      list.shownCount() === total
        ? page.plural(total, "entry", "entries")
        : page.number(list.shownCount()) + " of " + page.plural(total, "entry", "entries") + " shown";
  };

  // For each of `entries`, the listed entry it would repeat and the one that
  // names the same site in its other (punycode or Unicode) form; "" for none.
  this.compare = function (entries) {
    var seen = keysOfListed();
    return Array.prototype.map.call(entries, function (entry) {
      var listed = seen.get(page.foldAsciiCase(rule.keyOf(String(entry))));
      return { listed: listed === undefined ? "" : listed, sameSite: sameSiteListed(String(entry)) };
    });
  };
}
