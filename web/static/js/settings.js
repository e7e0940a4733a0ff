// The URL filter settings page: editing the approved list (add, remove,
// filter, entries handed over by the import page), its export, saving, the
// policy tabs, and the confirmation before defaults are restored.
//
// Stable hooks, relied on by the browser tests:
//   #settingsForm with the hidden policy field (page.POLICY_FIELD); the list box
//     #approvedList (see entry_view.js) and its filter #txtFilter
//   #txtNewEntry, #btnAddEntry, #btnRemoveEntries; feedback in #entryMessage,
//     the number of entries in #entryCount
//   #btnSave posts the form as saved (its button's action) with one
//     page.LIST_FIELD per listed entry;
//   #btnReset opens #resetDialog, whose #btnResetConfirm posts the reset action
//     (#btnResetExport exports first, #btnResetCancel closes it). The script
//     posts the form itself and shows the page that answers in place, then
//     what the action did in #actionMessage (#actionText, #lnkActionRecord).
//   A save whose session has ended opens #signInDialog (#txtAgainUser,
//     #txtAgainPassword, #btnSignInAgain, #signInAgainMessage) and saves once
//     signed in again. Leaving the page with unsaved changes asks first.
//   #lnkImport submits #importForm, which opens the import page by POST (in a
//     popup window when one can be opened, else in this one)
//   #btnExport posts #exportForm, whose #approvedListField ("approved_list")
//     gets every list entry followed by ";", and downloads the answer
//   policy tabs a[data-policy], one per policy (page.POLICIES):
//     the current one carries aria-current="page" and the class "is-current"
//   Tessera.settings.addImportedEntries(texts): called by the import page
//     through window.opener; returns { added: [...], refused: [...] };
//     Tessera.settings.compare(entries): for each, { listed, sameSite }: the
//     listed entry it would repeat, or that names the same site in its other
//     (punycode or Unicode) form; "" for none
import * as page from "./page.js";
import * as rule from "./entry_rule.js";
import { EntryView } from "./entry_view.js";
import { encodedFormBlob } from "./form_encoding.js";
import { optionValues } from "./markup.js";

// Starts the page in the current document, once.
function start() {
  if (document.documentElement.tesseraStarted) {
    return;
  }
  document.documentElement.tesseraStarted = true;
  var form = document.getElementById("settingsForm");
  var filter = document.getElementById("txtFilter");
  var newEntry = document.getElementById("txtNewEntry");
  var message = document.getElementById("entryMessage");
  var actionMessage = document.getElementById("actionMessage");
  var entryCount = document.getElementById("entryCount");
  var importForm = document.getElementById("importForm");
  var exportForm = document.getElementById("exportForm");
  var resetButton = document.getElementById("btnReset");
  var resetDialog = document.getElementById("resetDialog");
  var signInDialog = document.getElementById("signInDialog");
  var signInForm = document.getElementById("signInAgainForm");
  var signInMessage = document.getElementById("signInAgainMessage");
  // What the last save or reset did, carried from the page that posted it
  // to the page that answers.
  var OUTCOME_KEY = "tessera.actionOutcome";
  var policy = page.knownPolicy(document.getElementById(page.POLICY_FIELD).value);
  var MAX_REFUSALS_LISTED = 3;
  var list = new EntryView(document.getElementById("approvedList"), {
    onChange: showEntryCount,
    onRemove: reportRemoval,
  });
  // Keys of the entries listed, for the duplicate test of new ones; made at
  // the first addition and kept up to date from then on.
  var listedKeys = null;
  // Unsaved changes: the list's are counted as they happen, the other
  // fields' are told by comparing the form with what it held at load.
  var hasListEdits = false;
  var loadedFields = "";
  var isPosting = false;
  // Until the list is in, a save or an export would leave it out.
  var isListLoaded = false;
  // The button whose post waits for the administrator to sign in again.
  var pendingSubmitter = null;

  function formFields(submitter) {
    return new URLSearchParams(new FormData(form, submitter)).toString();
  }

  function hasUnsavedChanges() {
    return hasListEdits || formFields() !== loadedFields;
  }

  function showEntryCount() {
    var total = list.count();
    entryCount.textContent =
      list.shownCount() === total
        ? page.plural(total, "entry", "entries")
        : page.number(list.shownCount()) + " of " + page.plural(total, "entry", "entries") + " shown";
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

  // Listed entries by their ASCII site, for those that have one (see
  // entryRule.asciiSite); made when first needed, like the keys.
  var listedSites = null;

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
  function addEntries(texts) {
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
    hasListEdits = hasListEdits || outcome.added.length > 0;
    // The list clears a filter that would hide the new entries.
    if (list.filter === "") {
      filter.value = "";
    }
    return outcome;
  }

  // isImport: the entries came from the import page, not from the text box.
  function report(outcome, isImport) {
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
    page.showMessage(message, parts.join(" "), kind);
  }

  // True when the list is in; else says why the action waits.
  function isListReady() {
    if (!isListLoaded) {
      page.showMessage(message, "The approved list is still loading: try again in a moment.", "warning");
    }
    return isListLoaded;
  }

  function addTypedEntry() {
    if (!isListReady()) {
      return;
    }
    if (rule.splitEntries(newEntry.value).length === 0) {
      page.showMessage(message, "Type a site to add, such as example.com.", "error");
      newEntry.focus();
      return;
    }
    var outcome = addEntries([newEntry.value]);
    report(outcome, false);
    // What was refused stays in the box, to be corrected.
    newEntry.value = outcome.refused
      .map(function (refusal) {
        return refusal.entry;
      })
      .join("; ");
    newEntry.focus();
  }

  function reportRemoval(removed) {
    forgetKeys(removed);
    hasListEdits = true;
    var what = removed.length === 1 ? page.quote(removed[0]) : page.plural(removed.length, "entry", "entries");
    page.showMessage(message, "Removed " + what + ". Save to keep the changes.", "success");
  }

  function removeSelectedEntries() {
    var removed = list.removeSelected();
    if (removed.length === 0) {
      page.showMessage(message, "Select the entries to remove first.", "info");
      return;
    }
    reportRemoval(removed);
  }

  function formBlob(submitter) {
    return encodedFormBlob(formFields(submitter), page.LIST_FIELD, list.entries);
  }

  // A large form goes gzip-compressed: the browser's own upload is slow
  // (about 10 MB/s here), and a list compresses to a tenth of its size.
  var COMPRESS_FROM_BYTES = 1 << 20;

  function requestOf(body) {
    var request = {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: body,
      credentials: "same-origin",
    };
    if (body.size < COMPRESS_FROM_BYTES || typeof CompressionStream !== "function") {
      return Promise.resolve(request);
    }
    var compressed = body.stream().pipeThrough(new CompressionStream("gzip"));
    return new Response(compressed).blob().then(function (blob) {
      request.body = blob;
      request.headers["Content-Encoding"] = "gzip";
      return request;
    });
  }

  function isSignInPage(response) {
    return response.redirected && /\/login$/.test(new URL(response.url).pathname);
  }

  // Posts the form and shows the page that answers in place of this one, as
  // a navigation would. When the session has ended, the administrator signs
  // in again in a dialog and the same form is posted then: nothing is lost.
  function postForm(submitter) {
    if (!isListReady()) {
      return;
    }
    page.showMessage(message, "Saving\u2026", "info");
    isPosting = true;
    requestOf(formBlob(submitter))
      .then(function (request) {
        return fetch(form.action, request);
      })
      .then(function (response) {
        if (isSignInPage(response)) {
          isPosting = false;
          page.showMessage(message, "Your session has ended: sign in again to save.", "warning");
          askToSignIn(submitter);
          return null;
        }
        keepOutcome(response, submitter);
        return response.text();
      })
      .then(function (answer) {
        if (answer !== null) {
          document.open();
          // A module runs once per window, and the window stays across
          // document.open: the page that answers is started here.
          document.addEventListener("DOMContentLoaded", start, { once: true });
          document.write(answer);
          document.close();
        }
      })
      .catch(function () {
        isPosting = false;
        page.showMessage(message, "The console could not be reached; nothing was saved. Try again.", "error");
      });
  }

  function keepOutcome(response, submitter) {
    var outcome = response.headers.get("X-Tessera-Outcome");
    if (!outcome) {
      return;
    }
    var kept = {
      text: decodeURIComponent(outcome),
      record: response.headers.get("X-Tessera-Record"),
      isReset: submitter === resetButton,
    };
    try {
      window.sessionStorage.setItem(OUTCOME_KEY, JSON.stringify(kept));
    } catch (storageOff) {
      // The page that answers then shows no message; the change is stored all the same.
    }
  }

  function showKeptOutcome() {
    var kept = page.takeStored(OUTCOME_KEY);
    if (!kept || typeof kept.text !== "string") {
      return;
    }
    document.getElementById("actionText").textContent = kept.text;
    var link = document.getElementById("lnkActionRecord");
    link.textContent = kept.isReset ? "Undo it in History" : "See it in History";
    link.setAttribute("href", link.getAttribute("href") + "#record-" + encodeURIComponent(kept.record || ""));
    actionMessage.className = "message success";
    actionMessage.hidden = false;
  }

  function askToSignIn(submitter) {
    pendingSubmitter = submitter;
    page.showMessage(signInMessage, "", "");
    signInDialog.showModal();
    document.getElementById("txtAgainUser").focus();
  }

  function signInAgain() {
    var password = document.getElementById("txtAgainPassword");
    var body = new URLSearchParams({
      username: document.getElementById("txtAgainUser").value,
      password: password.value,
    }).toString();
    page.showMessage(signInMessage, "Signing in\u2026", "info");
    fetch(signInForm.action, {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: body,
      credentials: "same-origin",
      redirect: "manual",
    })
      .then(function (response) {
        // Signed in, the console sends the browser on with a redirect.
        if (response.type === "opaqueredirect") {
          password.value = "";
          signInDialog.close();
          postForm(pendingSubmitter);
          return null;
        }
        return response.text().then(function (answer) {
          var shown = new DOMParser().parseFromString(answer, "text/html").querySelector(".message");
          page.showMessage(signInMessage, shown ? shown.textContent : "The sign-in did not succeed.", "error");
        });
      })
      .catch(function () {
        page.showMessage(signInMessage, "The console could not be reached. Try again.", "error");
      });
  }

  // The export goes through the page's script, so that it is a download
  // and never a navigation away from unsaved changes.
  function exportList() {
    if (!isListReady()) {
      return;
    }
    var entries = list.entries;
    document.getElementById("approvedListField").value = entries.length === 0 ? "" : entries.join(";") + ";";
    requestOf(new Blob([new URLSearchParams(new FormData(exportForm)).toString()]))
      .then(function (request) {
        return fetch(exportForm.action, request);
      })
      .then(function (response) {
        if (!response.ok || isSignInPage(response)) {
          throw new Error("refused");
        }
        return response.blob();
      })
      .then(function (file) {
        var link = document.createElement("a");
        link.href = URL.createObjectURL(file);
        link.download = "ApprovedURLList.txt";
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(function () {
          URL.revokeObjectURL(link.href);
        }, 60000);
        page.showMessage(message, "Exported " + page.plural(entries.length, "entry", "entries") + ".", "success");
      })
      .catch(function () {
        page.showMessage(message, "The list could not be exported. Sign in again if your session has ended.", "error");
      });
  }

  function policyName() {
    var tab = document.querySelector('.tabs a[data-policy="' + policy + '"]');
    return tab ? page.quote(tab.textContent.trim()) + " policy" : "policy";
  }

  function markCurrentPolicyTab() {
    document.querySelectorAll(".tabs a[data-policy]").forEach(function (tab) {
      var isCurrent = tab.getAttribute("data-policy") === policy;
      tab.classList.toggle("is-current", isCurrent);
      if (isCurrent) {
        tab.setAttribute("aria-current", "page");
      } else {
        tab.removeAttribute("aria-current");
      }
    });
  }

  // A window of its own keeps unsaved edits here and lets the import page add
  // to this list through window.opener. Blocked, the form goes on in this
  // window and the entries come back through sessionStorage.
  function openImportWindow() {
    var importWindow = window.open("", importForm.getAttribute("target"), "popup,width=760,height=760");
    if (importWindow) {
      importWindow.focus();
    } else {
      importForm.target = "_self";
    }
  }

  function takePendingImport() {
    var texts = page.takeStored(page.PENDING_IMPORT_KEY);
    if (!Array.isArray(texts)) {
      return;
    }
    report(
      addEntries(
        texts.filter(function (text) {
          return typeof text === "string";
        })
      ),
      true
    );
  }

  document.getElementById("btnAddEntry").addEventListener("click", addTypedEntry);
  newEntry.addEventListener("keydown", function (event) {
    if (event.key === "Enter") {
      event.preventDefault();
      addTypedEntry();
    }
  });
  document.getElementById("btnRemoveEntries").addEventListener("click", removeSelectedEntries);
  list.element.addEventListener("keydown", function (event) {
    if (event.key === "Delete") {
      event.preventDefault();
      removeSelectedEntries();
    }
  });
  filter.addEventListener("focus", function () {
    list.prepareFilter();
  });
  filter.addEventListener("input", function () {
    list.setFilter(filter.value);
  });

  form.addEventListener("submit", function (event) {
    event.preventDefault();
    postForm(event.submitter);
  });
  resetButton.addEventListener("click", function (event) {
    event.preventDefault();
    document.getElementById("resetQuestion").textContent =
      "The settings of the " +
      policyName() +
      " go back to their defaults. Both policies share the approved list: its " +
      page.plural(list.count(), "entry", "entries") +
      " are replaced by the default list." +
      (hasUnsavedChanges() ? " Changes not saved here are lost." : "");
    resetDialog.showModal();
  });
  document.getElementById("btnResetConfirm").addEventListener("click", function () {
    resetDialog.close();
    postForm(resetButton);
  });
  document.getElementById("btnResetExport").addEventListener("click", exportList);
  document.getElementById("btnResetCancel").addEventListener("click", function () {
    resetDialog.close();
  });
  signInForm.addEventListener("submit", function (event) {
    event.preventDefault();
    signInAgain();
  });
  document.getElementById("btnSignInCancel").addEventListener("click", function () {
    signInDialog.close();
    page.showMessage(message, "Not saved: your changes are still here.", "warning");
  });

  exportForm.addEventListener("submit", function (event) {
    event.preventDefault();
    exportList();
  });
  window.addEventListener("beforeunload", function (event) {
    if (!isPosting && hasUnsavedChanges()) {
      event.preventDefault();
      event.returnValue = "";
    }
  });

  importForm.addEventListener("submit", openImportWindow);

  // Offered to the import page once the list is in: before that, entries it
  // added would be replaced by the list as it loads, and its comparisons made
  // against an empty list.
  var settingsForImport = {
    addImportedEntries: function (texts) {
      var outcome = addEntries(texts);
      report(outcome, true);
      return outcome;
    },
    compare: function (entries) {
      var seen = keysOfListed();
      return Array.prototype.map.call(entries, function (entry) {
        var listed = seen.get(page.foldAsciiCase(rule.keyOf(String(entry))));
        return { listed: listed === undefined ? "" : listed, sameSite: sameSiteListed(String(entry)) };
      });
    },
    count: function () {
      return list.count();
    },
  };

  markCurrentPolicyTab();
  // The import page is told the policy, so that its way back leads here.
  importForm.setAttribute("action", page.withPolicy(importForm.getAttribute("action"), policy));
  // The console serves a long list apart, as JSON, once this browser has
  // shown that it runs scripts; otherwise it stands in the page as markup.
  function loadEntries(source) {
    var url = source.getAttribute("data-list");
    if (!url) {
      return Promise.resolve(optionValues(source.textContent));
    }
    return fetch(url, { credentials: "same-origin" }).then(function (response) {
      if (!response.ok) {
        throw new Error("the list answered " + response.status);
      }
      return response.json();
    });
  }

  var source = document.getElementById("approvedListSource");
  loadedFields = formFields();
  showKeptOutcome();
  loadEntries(source).then(
    function (entries) {
      list.setEntries(entries);
      isListLoaded = true;
      // The import page, opened from this one, reaches the list through window.opener.
      window.Tessera = { settings: settingsForImport };
      // For measurements: the time from navigation until the list can be used.
      performance.mark("approved-list-ready");
      showEntryCount();
      takePendingImport();
    },
    function () {
      page.showMessage(
        message,
        "The approved list could not be loaded, so this page cannot save. Open the settings page again.",
        "error"
      );
    }
  );
  source.remove();
}

start();
