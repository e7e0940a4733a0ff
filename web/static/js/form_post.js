// Posting the settings form from its script: the body (gzip-compressed when
// large), the page that answers shown in place of this one, signing in again
// in a dialog when the session has ended, and what the action did, carried
// to the page that answers.
import * as page from "./page.js";

// What the last save or reset did, carried from the page that posted it
// to the page that answers.
var OUTCOME_KEY = "tessera.actionOutcome";
// A large form goes gzip-compressed: the browser's own upload is slow
// (about 10 MB/s here), and a list compresses to a tenth of its size.
var COMPRESS_FROM_BYTES = 1 << 20;

// The fetch options of a form post of `body` (a Blob). The version of what
// the page shows goes as If-Match: the console stops a save that would
// overwrite a change made since.
export function requestOf(body) {
  var request = {
    method: "POST",
    headers: { "Content-Type": "application/x-www-form-urlencoded" },
    body: body,
    credentials: "same-origin",
  };
  var version = document.getElementById(page.VERSION_FIELD);
  if (version) {
    request.headers["If-Match"] = '"' + version.value + '"';
  }
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

export function isSignInPage(response) {
  return response.redirected && /\/login$/.test(new URL(response.url).pathname);
}

function keepOutcome(response, isReset) {
  var outcome = response.headers.get("X-Tessera-Outcome");
  if (!outcome) {
    return;
  }
  var kept = {
    text: decodeURIComponent(outcome),
    record: response.headers.get("X-Tessera-Record"),
    isReset: isReset,
  };
  try {
    window.sessionStorage.setItem(OUTCOME_KEY, JSON.stringify(kept));
  } catch (storageOff) {
    // The page that answers then shows no message; the change is stored all the same.
  }
}

// Shows in #actionMessage what the action that made this page did, if one did.
export function showKeptOutcome() {
  var kept = page.takeStored(OUTCOME_KEY);
  if (kept && typeof kept.text === "string") {
    showOutcome(kept);
  }
}

// Shows in #actionMessage what an action did: `outcome.text`, with a link to
// its record (`outcome.record`) in History.
export function showOutcome(kept) {
  var actionMessage = document.getElementById("actionMessage");
  document.getElementById("actionText").textContent = kept.text;
  var link = document.getElementById("lnkActionRecord");
  link.textContent = kept.isReset ? "Undo it in History" : "See it in History";
  link.setAttribute("href", link.getAttribute("href").split("#")[0] + "#record-" + encodeURIComponent(kept.record || ""));
  actionMessage.className = "message success";
  actionMessage.hidden = false;
}

// `form`: the settings form; `message`: where progress and failures are told;
// `bodyOf(submitter)`: the form's body, a Blob; `restart`: starts the page
// that answers, once its document has loaded; `onOvertaken()`: called when
// the console stopped the post because the settings changed since this
// page was served (the page that answers shows them as they are now).
export function FormPoster(form, message, bodyOf, restart, onOvertaken) {
  var poster = this;
  var signInDialog = document.getElementById("signInDialog");
  var signInForm = document.getElementById("signInAgainForm");
  var signInMessage = document.getElementById("signInAgainMessage");
  // The post that waits for the administrator to sign in again.
  var pending = null;
  // True from a post until its answer replaces the page.
  this.isPosting = false;

  // Posts the form and shows the page that answers in place of this one, as
  // a navigation would. When the session has ended, the administrator signs
  // in again in the dialog and the same form is posted then: nothing is lost.
  this.post = function (submitter, isReset) {
    page.showMessage(message, "Saving\u2026", "info");
    poster.isPosting = true;
    requestOf(bodyOf(submitter))
      .then(function (request) {
        return fetch(form.action, request);
      })
      .then(function (response) {
        if (isSignInPage(response)) {
          poster.isPosting = false;
          page.showMessage(message, "Your session has ended: sign in again to save.", "warning");
          askToSignIn({ submitter: submitter, isReset: isReset });
          return null;
        }
        keepOutcome(response, isReset);
        if (response.status === 412) {
          onOvertaken();
        }
        return response.text();
      })
      .then(function (answer) {
        if (answer !== null) {
          document.open();
          // A module runs once per window, and the window stays across
          // document.open: the page that answers is started here.
          document.addEventListener("DOMContentLoaded", restart, { once: true });
          document.write(answer);
          document.close();
        }
      })
      .catch(function () {
        poster.isPosting = false;
        page.showMessage(message, "The console could not be reached; nothing was saved. Try again.", "error");
      });
  };

  function askToSignIn(post) {
    pending = post;
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
          poster.post(pending.submitter, pending.isReset);
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

  signInForm.addEventListener("submit", function (event) {
    event.preventDefault();
    signInAgain();
  });
  document.getElementById("btnSignInCancel").addEventListener("click", function () {
    signInDialog.close();
    page.showMessage(message, "Not saved: your changes are still here.", "warning");
  });
}
