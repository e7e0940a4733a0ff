// The approved list import page: shows the entries of the uploaded file for
// review and carries them into the settings page's list.
//
// Stable hooks, relied on by the browser tests:
//   #uploadForm with #fileInput ("txtFile") and #btnUpload
//   #importSummary; #importedEntries holds one li per entry (an entry the list
//     would refuse has the class "is-refused"); #btnAddToList; #importMessage
//   #lnkBack leads back to the settings page, of the policy named by the
//     txtPolicyInstanceId query variable this page was opened with
//
// Hand-over: when the settings page opened this one (window.opener of the same
// origin offering Tessera.settings), "Add to list" adds the entries to its list
// at once. Otherwise they wait in sessionStorage under
// Tessera.page.PENDING_IMPORT_KEY, and the settings page adds them when it is
// next opened in this tab. Either way the administrator then saves.
"use strict";

(function (page, rule) {
  var entriesList = document.getElementById("importedEntries");
  var summary = document.getElementById("importSummary");
  var addButton = document.getElementById("btnAddToList");
  var message = document.getElementById("importMessage");
  var backLink = document.getElementById("lnkBack");
  var uploadForm = document.getElementById("uploadForm");
  var policy = page.knownPolicy(new URLSearchParams(window.location.search).get(page.POLICY_FIELD));

  var MARKUP_ESCAPES = { "&amp;": "&", "&lt;": "<", "&gt;": ">", "&quot;": '"', "&#39;": "'" };

  // One pass, so a decoded "&" never starts another escape ("&amp;lt;" is "&lt;").
  function decodeMarkup(text) {
    return text.replace(/&(?:amp|lt|gt|quot|#39);/g, function (escape) {
      return MARKUP_ESCAPES[escape];
    });
  }

  // The server puts the list between double quotes in the data block, escaped
  // for markup and then for a script string (backslashes doubled, a backslash
  // before each double quote). The browser decodes neither inside a script
  // element, so both are undone here: the script escapes first.
  function readImportedEntries() {
    var block = document.getElementById("imported-list").textContent.trim();
    if (block.length < 2 || block.charAt(0) !== '"' || block.charAt(block.length - 1) !== '"') {
      return [];
    }
    var listValue = decodeMarkup(block.slice(1, -1).replace(/\\([\s\S])/g, "$1"));
    var entries = [];
    listValue.split("\t").forEach(function (line) {
      Array.prototype.push.apply(entries, rule.splitEntries(line));
    });
    return entries;
  }

  function showEntries(entries) {
    var seen = new Map();
    var refusedCount = 0;
    entries.forEach(function (entry) {
      var result = rule.admit(entry, seen);
      var item = document.createElement("li");
      var text = document.createElement("span");
      text.className = "entry-text";
      text.textContent = entry;
      item.appendChild(text);
      var note = document.createElement("span");
      note.className = "entry-note";
      if (result.problem) {
        refusedCount++;
        item.classList.add("is-refused");
        note.textContent = rule.problemText(result);
      } else if (result.canonical !== entry) {
        note.textContent = "listed as " + result.canonical;
      }
      if (note.textContent) {
        item.appendChild(note);
      }
      entriesList.appendChild(item);
    });

    if (entries.length === 0) {
      summary.textContent = "No entries to review yet: choose a list file and upload it.";
      return;
    }
    summary.textContent =
      page.plural(entries.length, "entry", "entries") +
      " in the file" +
      (refusedCount > 0 ? ", " + refusedCount + " of them left out as marked." : ".");
    addButton.disabled = refusedCount === entries.length;
  }

  // The settings page that opened this window, when it can be reached.
  function openerSettings() {
    try {
      var opener = window.opener;
      if (opener && !opener.closed && opener.Tessera && opener.Tessera.settings) {
        return opener.Tessera.settings;
      }
    } catch (otherOrigin) {
      // A window of another origin cannot be looked into; the entries then
      // travel through sessionStorage.
    }
    return null;
  }

  function addToOpenerList(settings, entries) {
    var outcome = settings.addImportedEntries(entries);
    var text =
      "Added " +
      page.plural(outcome.added.length, "entry", "entries") +
      " to the list on the settings page" +
      (outcome.refused.length > 0 ? " (" + outcome.refused.length + " already listed or not valid)" : "") +
      ". Save the settings there to keep them; this window can be closed.";
    page.showMessage(message, text, outcome.added.length > 0 ? "success" : "warning");
  }

  function keepForSettingsPage(entries) {
    try {
      var pending = JSON.parse(window.sessionStorage.getItem(page.PENDING_IMPORT_KEY));
      var waiting = Array.isArray(pending) ? pending.concat(entries) : entries;
      window.sessionStorage.setItem(page.PENDING_IMPORT_KEY, JSON.stringify(waiting));
    } catch (storageRefused) {
      page.showMessage(
        message,
        "The entries could not be kept for the settings page: this browser refuses session storage.",
        "error"
      );
      return;
    }
    page.showMessage(
      message,
      "The entries will be added to the list when you go back to the settings page; save the settings there to keep them. ",
      "success"
    );
    var goBack = document.createElement("a");
    goBack.href = backLink.href;
    goBack.textContent = "Go back now";
    message.appendChild(goBack);
  }

  var entries = readImportedEntries();

  backLink.setAttribute("href", page.withPolicy(backLink.getAttribute("href"), policy));
  // Keeps the policy in this page's address across the upload.
  uploadForm.setAttribute("action", page.withPolicy(uploadForm.getAttribute("action"), policy));

  showEntries(entries);
  addButton.addEventListener("click", function () {
    var settings = openerSettings();
    if (settings) {
      addToOpenerList(settings, entries);
    } else {
      keepForSettingsPage(entries);
    }
  });
})(window.Tessera.page, window.Tessera.entryRule);
