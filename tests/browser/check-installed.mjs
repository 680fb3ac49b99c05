// The browser integration as `cmake --install` laid it out, for tests/packaging/
// check-desktop-integration: prints one line per fault, nothing when all is well.
//   node check-installed.mjs ROOT PREFIX LIBEXECDIR DATADIR SYSCONFDIR
// (ROOT the staging DESTDIR; the other folders absolute, as configured)
import { createHash } from "node:crypto";
import { existsSync, readFileSync } from "node:fs";

const [root, prefix, libexecdir, datadir, sysconfdir] = process.argv.slice(2);
const faults = [];
const read = (path) => {
  try {
    return JSON.parse(readFileSync(root + path, "utf8"));
  } catch (error) {
    faults.push(`${path}: ${error.code === "ENOENT" ? "not installed" : error.message}`);
    return undefined;
  }
};
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
const geckoId = "share@zelt.app";
const firefoxApplication = "{ec8030f7-c20a-464f-9b0e-13a3a9e97384}";

// The unpacked extension, in Debian's layout for each browser.
const extensions = [
  `${datadir}/chromium/extensions/zelt-share`,
  `${datadir}/mozilla/extensions/${firefoxApplication}/${geckoId}`,
];
const ids = new Map();
for (const folder of extensions) {
  const manifest = read(`${folder}/manifest.json`);
  if (!manifest) continue;
  if (manifest.manifest_version !== 3) faults.push(`${folder}: not Manifest V3`);
  if (manifest.browser_specific_settings?.gecko?.id !== geckoId)
    faults.push(`${folder}: the Firefox ID is not ${geckoId}`);
  const permissions = [...(manifest.permissions ?? [])].sort();
  if (!same(permissions, ["activeTab", "contextMenus", "nativeMessaging", "scripting"]))
    faults.push(`${folder}: permissions ${permissions.join(", ")}`);
  if (manifest.host_permissions || manifest.optional_permissions || manifest.content_scripts)
    faults.push(`${folder}: asks for more than its four permissions`);
  const messages = read(`${folder}/_locales/${manifest.default_locale}/messages.json`) ?? {};
  for (const [, key] of JSON.stringify(manifest).matchAll(/__MSG_(\w+)__/g))
    if (!messages[key]?.message) faults.push(`${folder}: no message ${key}`);
  for (const file of [
    manifest.background?.service_worker,
    ...(manifest.background?.scripts ?? []),
    ...Object.values(manifest.icons ?? {}),
    ...Object.values(manifest.action?.default_icon ?? {}),
  ])
    if (!existsSync(`${root}${folder}/${file}`)) faults.push(`${folder}: ${file} is not installed`);
  // Chromium's ID of an unpacked extension with a key: the first 128 bits of the key's SHA-256,
  // one letter a to p for each four bits.
  const digest = createHash("sha256").update(Buffer.from(manifest.key ?? "", "base64")).digest("hex");
  ids.set(folder, [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join(""));
}
// The ID that the Chromium manifests must allow; both copies are one extension.
const chromiumId = ids.get(extensions[0]);
if (new Set(ids.values()).size > 1) faults.push(`the installed copies of the extension have different keys`);

// The native messaging manifests, naming the installed host.
const host = `${libexecdir}/zelt-share-browser-host`;
const expected = (browser) => ({
  name: "app.zelt.share",
  path: host,
  type: "stdio",
  ...(browser === "firefox"
    ? { allowed_extensions: [geckoId] }
    : { allowed_origins: [`chrome-extension://${chromiumId}/`] }),
});
const manifests = [
  [`${datadir}/zelt/native-messaging-hosts/firefox/app.zelt.share.json`, "firefox"],
  [`${datadir}/zelt/native-messaging-hosts/chromium/app.zelt.share.json`, "chromium"],
  [`${prefix}/lib/mozilla/native-messaging-hosts/app.zelt.share.json`, "firefox"],
];
const systemWide = [
  `${sysconfdir}/chromium/native-messaging-hosts/app.zelt.share.json`,
  `${sysconfdir}/opt/chrome/native-messaging-hosts/app.zelt.share.json`,
];
// Chromium and Chrome read /etc only: those go in with the prefix /usr, and nowhere otherwise.
if (prefix === "/usr") manifests.push(...systemWide.map((path) => [path, "chromium"]));
else
  for (const path of systemWide)
    if (existsSync(root + path)) faults.push(`${path}: installed for the prefix ${prefix}`);
for (const [path, browser] of manifests) {
  const manifest = read(path);
  if (!manifest) continue;
  const { description, ...rest } = manifest;
  if (typeof description !== "string") faults.push(`${path}: no description`);
  if (!same(rest, expected(browser)))
    faults.push(`${path}: ${JSON.stringify(rest)} instead of ${JSON.stringify(expected(browser))}`);
}

for (const fault of faults) console.log(fault);
