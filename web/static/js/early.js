// Loaded first and not deferred, so the "js" class is on the document before
// it is drawn: the style sheet shows the controls that only work with scripts
// (class "needs-js") once it is there. The other scripts are modules.
"use strict";

document.documentElement.classList.add("js");
// This browser runs scripts: the console may serve a long approved list apart
// from the settings page, for the page's script to fetch.
document.cookie =
  "tessera_list=apart; Path=/; SameSite=Strict" + (window.location.protocol === "https:" ? "; Secure" : "");
