// What the extension sends to the share sheet, through the native messaging host
// zelt-share-browser-host. Each share is one message, answered with {"ok": true} once the sheet
// has been started, or {"ok": false, "error": LINE}; a failure shows on the toolbar button.

// Firefox has both namespaces, Chromium only chrome; both answer with promises.
export const api = globalThis.browser ?? globalThis.chrome;

const host = "app.zelt.share";
// An image's bytes, at most; past this the image goes by its address, as a link.
const imageLimit = 32 * 1024 * 1024;

// Runs func in a frame of the tab (the top one unless given) and gives its result.
async function inPage(tab, frameId, func, args = []) {
  const target = { tabId: tab.id, frameIds: [frameId ?? 0] };
  const [injection] = await api.scripting.executeScript({ target, func, args });
  return injection?.result;
}

function readPage() {
  return { url: location.href, title: document.title, selection: String(getSelection() ?? "") };
}

function readSelection() {
  return String(getSelection() ?? "");
}

// Runs in the page, so that the image is fetched as the page fetched it (its cookies, its
// origin). Gives {type, data} with the bytes in base64, {tooLarge: true} past limit, or null.
async function readImage(src, limit) {
  try {
    const response = await fetch(src);
    if (!response.ok) return null;
    const type = (response.headers.get("content-type") ?? "").split(";")[0].trim().toLowerCase();
    if (Number(response.headers.get("content-length")) > limit) return { tooLarge: true };
    const reader = response.body.getReader();
    const chunks = [];
    let size = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.length;
      if (size > limit) {
        reader.cancel();
        return { tooLarge: true };
      }
      chunks.push(value);
    }
    const url = await new Promise((resolve, reject) => {
      const file = new FileReader();
      file.onload = () => resolve(file.result);
      file.onerror = () => reject(file.error);
      file.readAsDataURL(new Blob(chunks));
    });
    return { type, data: url.slice(url.indexOf(",") + 1) };
  } catch {
    return null;
  }
}

// The last segment of a web address's path, as the image's name; none for data: and blob:.
function nameOf(address) {
  try {
    const url = new URL(address);
    if (url.protocol !== "http:" && url.protocol !== "https:") return undefined;
    const last = url.pathname.split("/").pop();
    return last ? decodeURIComponent(last) : undefined;
  } catch {
    return undefined;
  }
}

function isWebAddress(address) {
  return /^https?:/i.test(address ?? "");
}

// Best effort: the button's badge and tooltip are a hint, and a tab that went away has none.
async function quietly(call) {
  try {
    await call();
  } catch {}
}

async function report(tab, error) {
  console.error(`Zelt Share: ${error}`);
  if (tab?.id === undefined) return;
  await quietly(() => api.action.setBadgeText({ tabId: tab.id, text: "!" }));
  await quietly(() => api.action.setTitle({ tabId: tab.id, title: error }));
}

async function clearReport(tab) {
  if (tab?.id === undefined) return;
  await quietly(() => api.action.setBadgeText({ tabId: tab.id, text: "" }));
  await quietly(() => api.action.setTitle({ tabId: tab.id, title: api.i18n.getMessage("sendPage") }));
}

// Gives the host's answer, or {ok: false, error} when the host could not be reached.
async function deliver(tab, message) {
  let answer;
  try {
    answer = await api.runtime.sendNativeMessage(host, message);
  } catch (error) {
    console.error(`Zelt Share: ${host}: ${error?.message ?? error}`);
    answer = { ok: false, error: api.i18n.getMessage("hostMissing") };
  }
  if (answer?.ok !== true) {
    answer = { ok: false, error: String(answer?.error || api.i18n.getMessage("hostSilent")) };
    await report(tab, answer.error);
  } else {
    await clearReport(tab);
  }
  return answer;
}

// The page record: the top frame's address and title, the selection of the frame it was made in.
// Where no script may run (the browser's own pages, a frame of another site), what the browser
// tells: the tab's address and title, the selection's text as the context menu had it (without
// its line breaks).
export async function sendPage(tab, frameId = 0, selectionText = "") {
  let page = { url: tab.url ?? "", title: tab.title ?? "", selection: selectionText ?? "" };
  try {
    page = (await inPage(tab, 0, readPage)) ?? page;
  } catch {}
  if (frameId) {
    try {
      page.selection = await inPage(tab, frameId, readSelection);
    } catch {
      page.selection = selectionText ?? "";
    }
  }
  return deliver(tab, { kind: "page", url: page.url, title: page.title, selection: page.selection });
}

export async function sendLink(tab, url) {
  return deliver(tab, { kind: "link", url: String(url ?? "") });
}

// The image's bytes when the page can read them, else its web address as a link.
export async function sendImage(tab, src, frameId = 0) {
  let image = null;
  try {
    image = await inPage(tab, frameId, readImage, [src, imageLimit]);
  } catch {}
  if (image?.data && image.type.startsWith("image/")) {
    const message = { kind: "image", type: image.type, data: image.data };
    const name = nameOf(src);
    if (name) message.name = name;
    return deliver(tab, message);
  }
  if (isWebAddress(src)) return sendLink(tab, src);
  const error = api.i18n.getMessage("imageUnreadable");
  await report(tab, error);
  return { ok: false, error };
}
