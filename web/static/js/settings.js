// The URL filter settings page: it starts the list box (entry_view.js) and
// its editing (list_editor.js), the posting of the form (form_post.js) and
// the export (list_export.js), and holds the policy tabs, the import window
// and the confirmation before defaults are restored.
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
//   A save that the console stops because the settings changed since the
//     page was served (412) shows the page as it is now with the console's
//     notice, and #btnApplyEdits there puts this page's edits on top of it.
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
import { EntryView } from "./entry_view.js";
import { encodedFormBlob } from "./form_encoding.js";
import { FormPoster, showKeptOutcome, showOutcome } from "./form_post.js";
import { ListEditor } from "./list_editor.js";
import { exportList } from "./list_export.js";
import { optionValues } from "./markup.js";

// A Save that changes only a few entries of a large list sends just those
// to the console's API (a PATCH, with the list's ETag as If-Match) and the
// page stays: the browser neither encodes and uploads the whole list nor
// loads it again. Anything else, and anything the PATCH does not store,
// goes as the form, which also tells what went wrong.
var PATCH_FROM_ENTRIES = 10000;
var PATCH_AT_MOST_EDITS = 1000;
var LIST_API = "/api/v1/approved-list";

// What this page's edits were, left for the page that answers a save the
// console stopped, so that they can be put on top of what is stored now.
var EDITS_KEY = "tessera.overtakenEdits";

// The form's fields as name -> list of values, the list left out.
function fieldValues(form) {
  var values = {};
  new FormData(form).forEach(function (value, name) {
    if (name !== page.LIST_FIELD && name !== page.VERSION_FIELD && name !== page.POLICY_FIELD) {
      (values[name] = values[name] || []).push(String(value));
    }
  });
  return values;
}

// The fields whose values differ between two fieldValues, with their new values.
function changedFields(before, after) {
  var changed = {};
  Object.keys(before)
    .concat(Object.keys(after))
    .forEach(function (name) {
      if (JSON.stringify(before[name] || []) !== JSON.stringify(after[name] || [])) {
        changed[name] = after[name] || [];
      }
    });
  return changed;
}

// Sets the form's controls of each named field to its values.
function applyFields(form, fields) {
  Array.prototype.forEach.call(form.elements, function (control) {
    if (!control.name || !Object.prototype.hasOwnProperty.call(fields, control.name)) {
      return;
    }
    var values = fields[control.name];
    if (control.type === "checkbox" || control.type === "radio") {
      control.checked = values.indexOf(control.value) >= 0;
    } else {
      control.value = values.length > 0 ? values[0] : "";
    }
  });
}

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

function markCurrentPolicyTab(policy) {
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

function policyName(policy) {
  var tab = document.querySelector('.tabs a[data-policy="' + policy + '"]');
  return tab ? page.quote(tab.textContent.trim()) + " policy" : "policy";
}

// A window of its own keeps unsaved edits here and lets the import page add
// to this list through window.opener. Blocked, the form goes on in this
// window and the entries come back through sessionStorage.
function openImportWindow(importForm) {
  var importWindow = window.open("", importForm.getAttribute("target"), "popup,width=760,height=760");
  if (importWindow) {
    importWindow.focus();
  } else {
    importForm.target = "_self";
  }
}

// Starts the page in the current document, once.
function start() {
  if (document.documentElement.tesseraStarted) {
    return;
  }
  document.documentElement.tesseraStarted = true;
  var form = document.getElementById("settingsForm");
  var filter = document.getElementById("txtFilter");
  var message = document.getElementById("entryMessage");
  var importForm = document.getElementById("importForm");
  var resetButton = document.getElementById("btnReset");
  var resetDialog = document.getElementById("resetDialog");
  var policy = page.knownPolicy(document.getElementById(page.POLICY_FIELD).value);
  // An auditor's page, as the console marks it: the fields show the settings
  // and change nothing (the console refuses any change anyway).
  var isReadOnly = document.body.hasAttribute("data-read-only");
  if (isReadOnly) {
    Array.prototype.forEach.call(form.elements, function (control) {
      if (control !== filter && control.type !== "hidden") {
        control.disabled = true;
      }
    });
  }
  var list = new EntryView(document.getElementById("approvedList"), {
    onChange: function () {
      editor.showEntryCount();
    },
    onRemove: function (removed) {
      editor.reportRemoval(removed);
    },
  });
  var editor = new ListEditor(list, {
    newEntry: document.getElementById("txtNewEntry"),
    filter: filter,
    message: message,
    entryCount: document.getElementById("entryCount"),
  });
  function formFields(submitter) {
    return new URLSearchParams(new FormData(form, submitter)).toString();
  }
  var poster = new FormPoster(
    form,
    message,
    function (submitter) {
      return encodedFormBlob(formFields(submitter), page.LIST_FIELD, list.entries);
    },
    start,
    function () {
      var listEdits = editor.listChange(Infinity);
      var edits = {
        fields: changedFields(loadedValues, fieldValues(form)),
        added: listEdits.add,
        removed: listEdits.remove,
      };
      try {
        window.sessionStorage.setItem(EDITS_KEY, JSON.stringify(edits));
      } catch (storageOff) {
        // The page that answers then offers no way to apply them; it says what changed all the same.
      }
    }
  );
  // Offered on the page that answers a save the console stopped: this page's
  // edits, put on top of the settings as they are stored now, to be saved.
  function offerOvertakenEdits() {
    var edits = page.takeStored(EDITS_KEY);
    var notice = document.querySelector("main > .message.error[role=alert]");
    if (!edits || !notice || isReadOnly) {
      return;
    }
    var apply = document.createElement("button");
    apply.type = "button";
    apply.id = "btnApplyEdits";
    apply.className = "button";
    apply.textContent = "Apply my edits on top";
    apply.addEventListener("click", function () {
      applyFields(form, edits.fields || {});
      var removed = new Set(edits.removed || []);
      var doomed = [];
      list.entries.forEach(function (entry, index) {
        if (removed.has(entry)) {
          doomed.push(index);
        }
      });
      var gone = list.removeIndexes(doomed);
      if (gone.length > 0) {
        editor.reportRemoval(gone);
      }
      editor.addEntries(edits.added || []);
      editor.hasEdits = true;
      apply.remove();
      page.showMessage(message, "Your edits are on top of the settings as they are now: check them and save.", "info");
    });
    notice.appendChild(document.createTextNode(" "));
    notice.appendChild(apply);
  }
  // Unsaved changes: the list's are counted as they happen, the other
  // fields' are told by comparing the form with what it held at load.
  var loadedFields = "";
  function hasUnsavedChanges() {
    return editor.hasEdits || formFields() !== loadedFields;
  }
  // The list's change since the page loaded, when only the list changed, by few entries.
  function smallListChange(submitter) {
    if (submitter === resetButton || list.count() < PATCH_FROM_ENTRIES || formFields() !== loadedFields) {
      return null;
    }
    return editor.listChange(PATCH_AT_MOST_EDITS);
  }
  function patchList(change, submitter) {
    var version = document.getElementById(page.VERSION_FIELD);
    page.showMessage(message, "Saving\u2026", "info");
    poster.isPosting = true;
    fetch(LIST_API, {
      method: "PATCH",
      headers: { "Content-Type": "application/json", "If-Match": version.getAttribute("data-list-etag") },
      body: JSON.stringify(change),
      credentials: "same-origin",
    })
      .then(function (response) {
        if (!response.ok) {
          throw new Error("the list answered " + response.status);
        }
        return response.json();
      })
      .then(function (answer) {
        // The page now shows what is stored: its version is the list's new one.
        var parts = version.value.split(".");
        var listVersion = /\.(\d+)"$/.exec(answer.etag);
        version.value = [parts[0], listVersion ? listVersion[1] : parts[1], answer.record].join(".");
        version.setAttribute("data-list-etag", answer.etag);
        loadedFields = formFields();
        loadedValues = fieldValues(form);
        editor.markSaved();
        poster.isPosting = false;
        page.showMessage(message, "", "");
        showOutcome({ text: "Saved: " + answer.changes + ".", record: String(answer.record), isReset: false });
        performance.mark("settings-saved");
      })
      .catch(function () {
        poster.isPosting = false;
        poster.post(submitter, false);
      });
  }
  function post(submitter) {
    if (!editor.isReady()) {
      return;
    }
    var change = smallListChange(submitter);
    if (change) {
      patchList(change, submitter);
    } else {
      poster.post(submitter, submitter === resetButton);
    }
  }
  function exportListed() {
    if (editor.isReady()) {
      exportList(list.entries, message);
    }
  }

  document.getElementById("btnAddEntry").addEventListener("click", editor.addTypedEntry);
  document.getElementById("txtNewEntry").addEventListener("keydown", function (event) {
    if (event.key === "Enter") {
      event.preventDefault();
      editor.addTypedEntry();
    }
  });
  document.getElementById("btnRemoveEntries").addEventListener("click", editor.removeSelectedEntries);
  list.element.addEventListener("keydown", function (event) {
    if (event.key === "Delete" && !isReadOnly) {
      event.preventDefault();
      editor.removeSelectedEntries();
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
    post(event.submitter);
  });
  resetButton.addEventListener("click", function (event) {
    event.preventDefault();
    document.getElementById("resetQuestion").textContent =
      "The settings of the " +
      policyName(policy) +
      " go back to their defaults. Both policies share the approved list: its " +
      page.plural(list.count(), "entry", "entries") +
      " are replaced by the default list." +
      (hasUnsavedChanges() ? " Changes not saved here are lost." : "");
    resetDialog.showModal();
  });
  document.getElementById("btnResetConfirm").addEventListener("click", function () {
    resetDialog.close();
    post(resetButton);
  });
  document.getElementById("btnResetExport").addEventListener("click", exportListed);
  document.getElementById("btnResetCancel").addEventListener("click", function () {
    resetDialog.close();
  });
  document.getElementById("exportForm").addEventListener("submit", function (event) {
    event.preventDefault();
    exportListed();
  });
  window.addEventListener("beforeunload", function (event) {
    if (!poster.isPosting && hasUnsavedChanges()) {
      event.preventDefault();
      event.returnValue = "";
    }
  });
  importForm.addEventListener("submit", function () {
    openImportWindow(importForm);
  });

  // Offered to the import page once the list is in: before that, entries it
  // added would be replaced by the list as it loads, and its comparisons made
  // against an empty list.
  var settingsForImport = {
    addImportedEntries: function (texts) {
      var outcome = editor.addEntries(texts);
      editor.report(outcome, true);
      return outcome;
    },
    compare: editor.compare,
    count: function () {
      return list.count();
    },
  };
  function takePendingImport() {
    var texts = page.takeStored(page.PENDING_IMPORT_KEY);
    if (Array.isArray(texts)) {
      settingsForImport.addImportedEntries(
        texts.filter(function (text) {
          return typeof text === "string";
        })
      );
    }
  }

  markCurrentPolicyTab(policy);
  // The import page is told the policy, so that its way back leads here.
  importForm.setAttribute("action", page.withPolicy(importForm.getAttribute("action"), policy));
  var source = document.getElementById("approvedListSource");
  loadedFields = formFields();
  var loadedValues = fieldValues(form);
  showKeptOutcome();
  loadEntries(source).then(
    function (entries) {
      list.setEntries(entries);
      editor.isLoaded = true;
      // The import page, opened from this one, reaches the list through window.opener.
      window.Tessera = { settings: settingsForImport };
      // For measurements: the time from navigation until the list can be used.
      performance.mark("approved-list-ready");
      editor.showEntryCount();
      takePendingImport();
      offerOvertakenEdits();
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
