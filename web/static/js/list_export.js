// The approved list's export from the settings page. It goes through the
// page's script, so that it is a download and never a navigation away from
// unsaved changes; the file holds the entries the page lists.
import * as page from "./page.js";
import { isSignInPage, requestOf } from "./form_post.js";

// Posts `entries` through #exportForm and downloads the answer; `message`
// tells the outcome.
export function exportList(entries, message) {
  var exportForm = document.getElementById("exportForm");
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
