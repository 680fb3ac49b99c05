// Opens a page served on 127.0.0.1 in a real browser with the extension installed, selects its
// paragraph, and sends the page, its link or its image to the share sheet as the extension's
// toolbar button and context-menu entries do. Prints one JSON line: {"pageUrl", "menus" (the IDs
// of the context-menu entries the extension made), "answer" (the native messaging host's)}. The browser, and with it the host, is gone when
// this exits; the sheet the host started stays.
//
//   node drive-browser.mjs CASE.json
// CASE.json: {"browser": "chromium"|"firefox", "kind": "page"|"link"|"image", "title",
// "selection" (the paragraph's text, lines split at \n), "link", "image" (a PNG file),
// "extension" (the built extension), "work" (an empty folder for the copy), "chromiumUserData"
// (Chromium's profile, with the host's manifest in NativeMessagingHosts)}
import { cpSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import path from "node:path";
import { fileURLToPath } from "node:url";
import puppeteer from "puppeteer-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const spec = JSON.parse(readFileSync(process.argv[2], "utf8"));
const escape = (text) =>
  text.replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);

// The test's copy of the extension: the shipped one asks for activeTab, which only a user's click
// grants, so the copy may reach the test page without one; and its background and content script
// let the driver ask for what a click does.
const extension = path.join(spec.work, "extension");
cpSync(spec.extension, extension, { recursive: true });
cpSync(path.join(here, "extension-test"), path.join(extension, "test"), { recursive: true });
const manifestPath = path.join(extension, "manifest.json");
const manifest = JSON.parse(readFileSync(manifestPath, "utf8"));
manifest.host_permissions = ["http://127.0.0.1/*"];
manifest.background = { ...manifest.background, service_worker: "test/background.js", scripts: ["test/background.js"] };
manifest.content_scripts = [{ matches: ["http://127.0.0.1/*"], js: ["test/content.js"] }];
writeFileSync(manifestPath, JSON.stringify(manifest, null, 2));

const html = `<!doctype html><html><head><meta charset="utf-8"><title>${escape(spec.title)}</title></head>
<body><h1>${escape(spec.title)}</h1>
<p id="selected">${spec.selection.split("\n").map(escape).join("<br>")}</p>
<p><a id="link" href="${escape(spec.link ?? "")}">a link</a></p>
<p><img id="picture" src="/pictures/cat%20photo.png" alt=""></p>
</body></html>`;
const server = createServer((request, response) => {
  if (request.url === "/page.html") {
    response.writeHead(200, { "content-type": "text/html; charset=utf-8" });
    return response.end(html);
  }
  if (request.url === "/pictures/cat%20photo.png" && spec.image) {
    response.writeHead(200, { "content-type": "image/png" });
    return response.end(readFileSync(spec.image));
  }
  response.writeHead(404).end();
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${server.address().port}`;
const pageUrl = `${origin}/page.html`;

const chromiumFlags = [
  "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];
let browser;
if (spec.browser === "chromium") {
  // Its own NativeMessagingHosts folder is where it finds the host.
  const profile = spec.chromiumUserData;
  mkdirSync(profile, { recursive: true });
  browser = await puppeteer.launch({
    executablePath: process.env.ZELT_CHROMIUM ?? "/usr/lib/chromium/chromium",
    headless: true,
    userDataDir: profile,
    ignoreDefaultArgs: ["--disable-extensions"],
    args: [...chromiumFlags, `--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
    env: process.env,
  });
} else {
  browser = await puppeteer.launch({
    browser: "firefox",
    protocol: "webDriverBiDi",
    executablePath: process.env.ZELT_FIREFOX ?? "/usr/lib/firefox-esr/firefox-esr",
    headless: true,
    env: process.env,
  });
  await browser.installExtension(extension);
}

let result;
try {
  const page = await browser.newPage();
  await page.goto(pageUrl);
  await page.waitForFunction(() => document.documentElement.dataset.zeltTest === "ready");
  const target = { page: undefined, link: spec.link, image: `${origin}/pictures/cat%20photo.png` }[spec.kind];
  const ask = (kind, t) =>
    page.evaluate(
      (k, x) =>
        new Promise((resolve) => {
          window.addEventListener("message", (event) => {
            if (event.data?.zeltTestAnswer) resolve(event.data.zeltTestAnswer);
          });
          window.postMessage({ zeltTest: { kind: k, target: x } }, "*");
        }),
      kind,
      t,
    );
  // The entries are made when the extension is installed, which may still be under way.
  let menus = [];
  for (let i = 0; i < 50 && menus.length < 4; ++i) {
    menus = await ask("menus");
    if (menus.length < 4) await new Promise((resolve) => setTimeout(resolve, 100));
  }
  await page.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.getElementById("selected"));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
  });
  const answer = await ask(spec.kind, target);
  result = { pageUrl, menus, answer };
} finally {
  await browser.close();
  server.close();
}
process.stdout.write(`${JSON.stringify(result)}\n`);
