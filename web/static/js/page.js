// Shared by the console's page scripts. Loaded first and not deferred, so the
// "js" class is on the document before it is drawn: the style sheet shows the
// controls that only work with scripts (class "needs-js") once it is there.
"use strict";

document.documentElement.classList.add("js");
// This browser runs scripts: the console may serve a long approved list apart
// from the settings page, for the page's script to fetch.
document.cookie =
  "tessera_list=apart; Path=/; SameSite=Strict" + (window.location.protocol === "https:" ? "; Secure" : "");

window.Tessera = window.Tessera || {};

window.Tessera.page = (function () {
  // sessionStorage key under which the import page leaves entries when it
  // cannot reach the settings page itself; the settings page of the same tab
  // takes them out when it loads.
  var PENDING_IMPORT_KEY = "tessera.pendingApprovedEntries";
  var POLICY_FIELD = "txtPolicyInstanceId";
  var POLICIES = ["URL_FILTER", "URL_FILTER_FILE"];

  // The server compares names and list entries folding only A-Z; every other
  // character must match exactly, so toLowerCase() would fold too much.
  function foldAsciiCase(text) {
    return text.replace(/[A-Z]+/g, function (letters) {
      return letters.toLowerCase();
    });
  }

  // The policy's own spelling when `name` is one of the two policies, else "".
  function knownPolicy(name) {
    var folded = foldAsciiCase(String(name || ""));
    for (var i = 0; i < POLICIES.length; i++) {
      if (foldAsciiCase(POLICIES[i]) === folded) {
        return POLICIES[i];
      }
    }
    return "";
  }

  // `url` with the policy added as a query variable; unchanged for no policy.
  function withPolicy(url, policy) {
    if (!policy) {
      return url;
    }
    return url + (url.indexOf("?") < 0 ? "?" : "&") + POLICY_FIELD + "=" + encodeURIComponent(policy);
  }

  // kind: "info", "success", "error" or "warning"; an empty text hides it.
  function showMessage(element, text, kind) {
    element.textContent = text;
    element.className = "message" + (kind ? " " + kind : "");
  }

  // Counts are written with thousands separators: "1,250,000".
  function number(count) {
    return count.toLocaleString("en-US");
  }

  function plural(count, one, many) {
    return number(count) + " " + (count === 1 ? one : many);
  }

  // An entry quoted for a message, cut short (at a character, not inside a
  // surrogate pair) so that a long one cannot flood the page.
  function quote(text) {
    var characters = Array.from(text);
    var shown = characters.length > 60 ? characters.slice(0, 57).join("") + "\u2026" : text;
    return "\u201c" + shown + "\u201d";
  }

  // The value kept under `key` in sessionStorage, removed as it is taken;
  // null when there is none, it is not JSON or storage is off.
  function takeStored(key) {
    try {
      var text = window.sessionStorage.getItem(key);
      window.sessionStorage.removeItem(key);
      return JSON.parse(text);
    } catch (unavailable) {
      return null;
    }
  }

  return {
    PENDING_IMPORT_KEY: PENDING_IMPORT_KEY,
    POLICY_FIELD: POLICY_FIELD,
    foldAsciiCase: foldAsciiCase,
    knownPolicy: knownPolicy,
    withPolicy: withPolicy,
    showMessage: showMessage,
    number: number,
    plural: plural,
    quote: quote,
    takeStored: takeStored,
  };
})();
