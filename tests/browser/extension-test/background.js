// The test copy's background: the extension's own, and a way in for the driver, which cannot
// click the toolbar button or a context-menu entry of a headless browser. The test page's content
// script asks for what a click would do, and the tab it names is the sender's.
import "../background.js";
import { api, sendImage, sendLink, sendPage } from "../share.js";

// The context-menu entries the extension made: those whose ID the browser knows.
async function menuEntries() {
  const known = [];
  for (const id of ["page", "selection", "link", "image"]) {
    try {
      await api.contextMenus.update(id, {});
      known.push(id);
    } catch {}
  }
  return known;
}

api.runtime.onMessage.addListener((message, sender) => {
  const { kind, target } = message.zeltTest ?? {};
  switch (kind) {
    case "menus":
      return menuEntries();
    case "page":
      return sendPage(sender.tab);
    case "link":
      return sendLink(sender.tab, target);
    case "image":
      return sendImage(sender.tab, target);
  }
  return undefined;
});
