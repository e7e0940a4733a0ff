// Shared by the console's page scripts: the policies, messages, and what one
// page leaves for another in sessionStorage.
// page_names.js is made by the console from its description of the pages it
// hosts, so that the form's field names and the policies are written once.
import { POLICIES, POLICY_FIELD } from "./page_names.js";
import { foldAsciiCase } from "./text.js";

export { LIST_FIELD, POLICY_FIELD, VERSION_FIELD } from "./page_names.js";

export { foldAsciiCase, number, plural, quote } from "./text.js";

// sessionStorage key under which the import page leaves entries when it
// cannot reach the settings page itself; the settings page of the same tab
// takes them out when it loads.
export const PENDING_IMPORT_KEY = "tessera.pendingApprovedEntries";

// The policy's own spelling when `name` is one of the two policies, else "".
export function knownPolicy(name) {
  var folded = foldAsciiCase(String(name || ""));
  for (var i = 0; i < POLICIES.length; i++) {
    if (foldAsciiCase(POLICIES[i]) === folded) {
      return POLICIES[i];
    }
  }
  return "";
}

// `url` with the policy added as a query variable; unchanged for no policy.
export function withPolicy(url, policy) {
  if (!policy) {
    return url;
  }
  return url + (url.indexOf("?") < 0 ? "?" : "&") + POLICY_FIELD + "=" + encodeURIComponent(policy);
}

// kind: "info", "success", "error" or "warning"; an empty text hides it.
export function showMessage(element, text, kind) {
  element.textContent = text;
  element.className = "message" + (kind ? " " + kind : "");
}



// The value kept under `key` in sessionStorage, removed as it is taken;
// null when there is none, it is not JSON or storage is off.
export function takeStored(key) {
  try {
    var text = window.sessionStorage.getItem(key);
    window.sessionStorage.removeItem(key);
    return JSON.parse(text);
  } catch (unavailable) {
    return null;
  }
}
