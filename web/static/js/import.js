// The approved list import page: shows the entries of the uploaded file for
// review and carries them into the settings page's list.
//
// Stable hooks, relied on by the browser tests:
//   #uploadForm with #fileInput ("txtFile") and #btnUpload
//   #importSummary names the file and counts what it holds; #importEncoding
//     warns of a file that is not valid UTF-8; #importedEntries holds one li
//     per entry (an entry that will not be added has the class "is-refused",
//     one already on the settings page's list also "is-listed", one worth a
//     second look "is-advised"); #chkProblemsOnly hides the others;
//     #btnAddToList, disabled once used; #importMessage
//   #lnkBack leads back to the settings page, of the policy named by the
//     policy query variable (page.POLICY_FIELD) this page was opened with
//
// Hand-over: when the settings page opened this one (window.opener of the same
// origin offering Tessera.settings), "Add to list" adds the entries to its list
// at once. Otherwise they wait in sessionStorage under
// PENDING_IMPORT_KEY of page.js, and the settings page adds them when it is
// next opened in this tab. Either way the administrator then saves.
import * as page from "./page.js";
import * as rule from "./entry_rule.js";
import { unescapeMarkup } from "./markup.js";

// The name and encoding of the file being uploaded, kept for the page that
// answers the upload, which knows only the file's text.
var UPLOAD_KEY = "tessera.importUpload";
var entriesList = document.getElementById("importedEntries");
var summary = document.getElementById("importSummary");
var addButton = document.getElementById("btnAddToList");
var message = document.getElementById("importMessage");
var backLink = document.getElementById("lnkBack");
var uploadForm = document.getElementById("uploadForm");
var policy = page.knownPolicy(new URLSearchParams(window.location.search).get(page.POLICY_FIELD));

// The server puts the list between double quotes in the data block, escaped
// for markup and then for a script string (backslashes doubled, a backslash
// before each double quote). The browser decodes neither inside a script
// element, so both are undone here: the script escapes first.
function readImportedEntries() {
  var block = document.getElementById("imported-list").textContent.trim();
  if (block.length < 2 || block.charAt(0) !== '"' || block.charAt(block.length - 1) !== '"') {
    return [];
  }
  var listValue = unescapeMarkup(block.slice(1, -1).replace(/\\([\s\S])/g, "$1"));
  var entries = [];
  listValue.split("\t").forEach(function (line) {
    Array.prototype.push.apply(entries, rule.splitEntries(line));
  });
  return entries;
}

// Reviews the file's entries against each other and, when the settings
// page is open beside this one, against its list. Returns those to add.
function showEntries(entries, settings, upload) {
  var seen = new Map();
  var sites = new Map();
  var admitted = entries.map(function (entry) {
    return rule.admit(entry, seen);
  });
  var onPage = settings
    ? settings.compare(
        admitted.map(function (result) {
          return result.canonical;
        })
      )
    : [];
  var toAdd = [];
  var counts = { refused: 0, listed: 0, advised: 0 };
  entries.forEach(function (entry, index) {
    var result = admitted[index];
    var item = document.createElement("li");
    item.setAttribute("data-line", String(index + 1));
    var text = document.createElement("span");
    text.className = "entry-text";
    text.textContent = entry;
    item.appendChild(text);
    var notes = [];
    if (result.problem) {
      counts.refused++;
      item.classList.add("is-refused");
      notes.push(rule.problemText(result));
    } else if (settings && onPage[index].listed) {
      counts.listed++;
      item.classList.add("is-refused", "is-listed");
      notes.push("is on the settings page\u2019s list already, as " + page.quote(onPage[index].listed));
    } else {
      toAdd.push(entry);
      if (result.canonical !== entry) {
        notes.push("listed as " + result.canonical);
      }
      var advice = rule.advise(entry);
      var site = rule.asciiSite(entry);
      var sameSite = (settings && onPage[index].sameSite) || (site && sites.get(site)) || "";
      if (sameSite) {
        advice.push("names the same site as " + page.quote(sameSite));
      } else if (site) {
        sites.set(site, entry);
      }
      if (advice.length > 0) {
        counts.advised++;
        item.classList.add("is-advised");
        notes.push("check: it " + advice.join(" and "));
      }
    }
    if (notes.length > 0) {
      var note = document.createElement("span");
      note.className = "entry-note";
      note.textContent = notes.join("; ");
      item.appendChild(note);
    }
    entriesList.appendChild(item);
  });

  if (entries.length === 0) {
    summary.textContent = "No entries to review yet: choose a list file and upload it.";
    return toAdd;
  }
  var parts = [page.plural(toAdd.length, "entry", "entries") + " to add"];
  if (counts.listed > 0) {
    parts.push(page.number(counts.listed) + " on the settings page\u2019s list already");
  }
  if (counts.refused > 0) {
    parts.push(page.number(counts.refused) + " left out as marked");
  }
  summary.textContent =
    (upload.name ? page.quote(upload.name) + ": " : "") +
    page.plural(entries.length, "entry", "entries") +
    " in the file; " +
    parts.join(", ") +
    (counts.advised > 0 ? "; " + page.number(counts.advised) + " to check" : "") +
    "." +
    (settings ? "" : " The settings page checks them against its list when they arrive.");
  addButton.disabled = toAdd.length === 0;
  return toAdd;
}

// Whether `bytes` are UTF-8 as the server reads them; a text with a UTF-16
// byte order mark is read as UTF-16 and is fine too.
function encodingWarning(name, bytes) {
  var start = new Uint8Array(bytes, 0, Math.min(2, bytes.byteLength));
  if (start.length === 2 && ((start[0] === 0xff && start[1] === 0xfe) || (start[0] === 0xfe && start[1] === 0xff))) {
    return "";
  }
  try {
    new TextDecoder("utf-8", { fatal: true }).decode(bytes);
    return "";
  } catch (notUtf8) {
    return (
      page.quote(name) +
      " is not valid UTF-8. It was read as UTF-8, so the characters it could not read show as \ufffd. " +
      "A file from an older system is often in Windows-1252 (Latin-1): save it as UTF-8 and upload it again."
    );
  }
}

function takeUploadNote() {
  var upload = page.takeStored(UPLOAD_KEY);
  return upload && typeof upload.name === "string" ? upload : { name: "", warning: "" };
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
    (outcome.refused.length > 0 ? " (" + outcome.refused.length + " listed there meanwhile)" : "") +
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

backLink.setAttribute("href", page.withPolicy(backLink.getAttribute("href"), policy));
// Keeps the policy in this page's address across the upload.
uploadForm.setAttribute("action", page.withPolicy(uploadForm.getAttribute("action"), policy));

var upload = takeUploadNote();
page.showMessage(document.getElementById("importEncoding"), upload.warning || "", "warning");
var toAdd = showEntries(readImportedEntries(), openerSettings(), upload);
addButton.addEventListener("click", function () {
  addButton.disabled = true;
  var settings = openerSettings();
  if (settings) {
    addToOpenerList(settings, toAdd);
  } else {
    keepForSettingsPage(toAdd);
  }
});
document.getElementById("chkProblemsOnly").addEventListener("change", function (event) {
  entriesList.classList.toggle("problems-only", event.target.checked);
});
// The file's name and encoding are known here only: kept for the page that answers.
uploadForm.addEventListener("submit", function (event) {
  var file = document.getElementById("fileInput").files[0];
  if (!file) {
    return;
  }
  event.preventDefault();
  file.arrayBuffer().then(function (bytes) {
    try {
      window.sessionStorage.setItem(
        UPLOAD_KEY,
        JSON.stringify({ name: file.name, warning: encodingWarning(file.name, bytes) })
      );
    } catch (storageOff) {
      // The review then names no file; the upload goes on.
    }
    uploadForm.submit();
  });
});
