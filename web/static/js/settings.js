// The URL filter settings page: editing the approved list (add, remove, entries
// handed over by the import page), its export, the policy tabs, and the
// confirmation before defaults are restored.
//
// Stable hooks, relied on by the browser tests:
//   #settingsForm with the hidden #txtPolicyInstanceId and the list #stApprovedURL
//   #txtNewEntry, #btnAddEntry, #btnRemoveEntries; feedback in #entryMessage,
//     the number of entries in #entryCount
//   #btnSave posts FormAction=save with every list entry selected;
//   #btnReset posts FormAction=Reset once confirm() is accepted
//   #lnkImport submits #importForm, which opens the import page by POST (in a
//     popup window when one can be opened, else in this one)
//   #btnExport submits #exportForm, whose #approvedListField ("approved_list")
//     gets every list entry followed by ";"
//   policy tabs a[data-policy="URL_FILTER"], a[data-policy="URL_FILTER_FILE"]:
//     the current one carries aria-current="page" and the class "is-current"
//   Tessera.settings.addImportedEntries(texts): called by the import page
//     through window.opener; returns { added: [...], refused: [...] }
"use strict";

(function (page, rule) {
  var form = document.getElementById("settingsForm");
  var list = document.getElementById("stApprovedURL");
  var newEntry = document.getElementById("txtNewEntry");
  var message = document.getElementById("entryMessage");
  var entryCount = document.getElementById("entryCount");
  var importForm = document.getElementById("importForm");
  var policy = page.knownPolicy(document.getElementById(page.POLICY_FIELD).value);
  var MAX_REFUSALS_LISTED = 3;

  function options() {
    return Array.prototype.slice.call(list.options);
  }

  function showEntryCount() {
    entryCount.textContent = page.plural(list.options.length, "entry", "entries");
  }

  // Keys of the entries listed now, for the duplicate test of new ones.
  function listedKeys() {
    var seen = new Map();
    options().forEach(function (option) {
      rule.admit(option.value, seen);
    });
    return seen;
  }

  // Puts each entry of `texts` (each may hold several, cut at ";") through the
  // entry rule and appends the accepted ones; the new ones end up selected, so
  // that "Remove selected" takes them back.
  function addEntries(texts) {
    var seen = listedKeys();
    var outcome = { added: [], refused: [] };
    Array.prototype.forEach.call(texts, function (text) {
      rule.splitEntries(String(text)).forEach(function (entry) {
        var result = rule.admit(entry, seen);
        if (result.problem) {
          outcome.refused.push({ entry: entry, reason: rule.problemText(result) });
          return;
        }
        list.add(new Option(result.canonical, result.canonical));
        outcome.added.push(result.canonical);
      });
    });
    if (outcome.added.length > 0) {
      var firstNew = list.options.length - outcome.added.length;
      options().forEach(function (option, index) {
        option.selected = index >= firstNew;
      });
      showEntryCount();
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
    if (outcome.added.length > 0) {
      parts.push("Save to keep the changes.");
    }
    var kind = "success";
    if (outcome.refused.length > 0) {
      kind = outcome.added.length === 0 && !isImport ? "error" : "warning";
    }
    page.showMessage(message, parts.join(" "), kind);
  }

  function addTypedEntry() {
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

  function removeSelectedEntries() {
    var selected = options().filter(function (option) {
      return option.selected;
    });
    if (selected.length === 0) {
      page.showMessage(message, "Select the entries to remove first.", "info");
      return;
    }
    selected.forEach(function (option) {
      option.remove();
    });
    showEntryCount();
    page.showMessage(
      message,
      "Removed " + page.plural(selected.length, "entry", "entries") + ". Save to keep the changes.",
      "success"
    );
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
    var stored = null;
    try {
      stored = window.sessionStorage.getItem(page.PENDING_IMPORT_KEY);
      window.sessionStorage.removeItem(page.PENDING_IMPORT_KEY);
    } catch (storageOff) {
      return;
    }
    var texts = null;
    try {
      texts = JSON.parse(stored);
    } catch (notJson) {
      return;
    }
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
  list.addEventListener("keydown", function (event) {
    if (event.key === "Delete") {
      event.preventDefault();
      removeSelectedEntries();
    }
  });

  // The server takes the list from the selected options only.
  form.addEventListener("submit", function () {
    options().forEach(function (option) {
      option.selected = true;
    });
  });
  document.getElementById("btnReset").addEventListener("click", function (event) {
    var question =
      "Restore the default settings of the " +
      policyName() +
      " and the default approved URL list, which both policies share? Changes not saved are lost.";
    if (!window.confirm(question)) {
      event.preventDefault();
    }
  });

  document.getElementById("exportForm").addEventListener("submit", function () {
    document.getElementById("approvedListField").value = options()
      .map(function (option) {
        return option.value + ";";
      })
      .join("");
  });

  importForm.addEventListener("submit", openImportWindow);

  window.Tessera.settings = {
    addImportedEntries: function (texts) {
      var outcome = addEntries(texts);
      report(outcome, true);
      return outcome;
    },
  };

  markCurrentPolicyTab();
  // The import page is told the policy, so that its way back leads here.
  importForm.setAttribute("action", page.withPolicy(importForm.getAttribute("action"), policy));
  showEntryCount();
  takePendingImport();
})(window.Tessera.page, window.Tessera.entryRule);
