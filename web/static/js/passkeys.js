// Passkeys in the browser: the account page adds one, the sign-in page and
// the second-factor page sign in with one. The console checks every part of
// the answer; this module only asks the browser and carries the answer back.
//
// Stable hooks, relied on by the browser tests:
//   #passkeyForm: on the account page the form that adds a passkey (its
//     #btnAddPasskey starts the ceremony once its password field is filled);
//     on the sign-in pages the form that posts the answer to /login/passkey,
//     its data-purpose "sign-in" or "second-factor", started by #btnPasskey
//   #passkeyMessage: what went wrong, when something did

// Bytes as WebAuthn's JSON writes them: base64url without padding.
function bytesOf(text) {
  const standard = text.replace(/-/g, "+").replace(/_/g, "/");
  return Uint8Array.from(atob(standard + "===".slice((standard.length + 3) % 4)), (c) => c.charCodeAt(0));
}

function textOf(buffer) {
  let binary = "";
  for (const byte of new Uint8Array(buffer)) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function credentialList(list) {
  return list.map((credential) => ({ type: credential.type, id: bytesOf(credential.id) }));
}

async function ceremonyOptions(purpose) {
  const response = await fetch("/passkey/options", {
    method: "POST",
    credentials: "same-origin",
    headers: { "Content-Type": "application/x-www-form-urlencoded" },
    body: new URLSearchParams({ purpose }).toString(),
  });
  if (!response.ok) throw new Error(`the console answered ${response.status}`);
  return response.json();
}

async function addPasskey(form) {
  const options = await ceremonyOptions("register");
  const credential = await navigator.credentials.create({
    publicKey: {
      challenge: bytesOf(options.challenge),
      rp: options.rp,
      user: { ...options.user, id: bytesOf(options.user.id) },
      pubKeyCredParams: options.pubKeyCredParams,
      attestation: options.attestation,
      authenticatorSelection: options.authenticatorSelection,
      excludeCredentials: credentialList(options.excludeCredentials),
    },
  });
  form.elements.token.value = options.token;
  form.elements.clientDataJSON.value = textOf(credential.response.clientDataJSON);
  form.elements.attestationObject.value = textOf(credential.response.attestationObject);
  form.submit();
}

async function signInWithPasskey(form) {
  const options = await ceremonyOptions(form.dataset.purpose);
  const assertion = await navigator.credentials.get({
    publicKey: {
      challenge: bytesOf(options.challenge),
      rpId: options.rpId,
      userVerification: options.userVerification,
      allowCredentials: credentialList(options.allowCredentials),
    },
  });
  form.elements.token.value = options.token;
  form.elements.id.value = textOf(assertion.rawId);
  form.elements.clientDataJSON.value = textOf(assertion.response.clientDataJSON);
  form.elements.authenticatorData.value = textOf(assertion.response.authenticatorData);
  form.elements.signature.value = textOf(assertion.response.signature);
  form.submit();
}

function start() {
  const form = document.getElementById("passkeyForm");
  const message = document.getElementById("passkeyMessage");
  if (!form || !window.PublicKeyCredential) return;
  const run = (ceremony) => async () => {
    message.textContent = "";
    message.className = "message";
    try {
      await ceremony(form);
    } catch (error) {
      message.textContent = `The passkey did not work: ${error.message}`;
      message.className = "message error";
    }
  };
  const adding = document.getElementById("btnAddPasskey");
  adding?.addEventListener("click", () => {
    if (form.reportValidity()) run(addPasskey)();
  });
  document.getElementById("btnPasskey")?.addEventListener("click", run(signInWithPasskey));
  document.documentElement.dataset.passkeysReady = "true";
}

start();
