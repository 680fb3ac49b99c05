// The toolbar button and the context-menu entries. Listeners are added when the script starts,
// as a service worker (Chromium) or an event page (Firefox) that the browser starts for an event
// has to find them there.
import { api, sendImage, sendLink, sendPage } from "./share.js";

const entries = [
  { id: "page", contexts: ["page"], message: "sendPage" },
  { id: "selection", contexts: ["selection"], message: "sendSelection" },
  { id: "link", contexts: ["link"], message: "sendLink" },
  { id: "image", contexts: ["image"], message: "sendImage" },
];

// The browser keeps the entries across restarts of the background; they are made once.
api.runtime.onInstalled.addListener(async () => {
  await api.contextMenus.removeAll();
  for (const { id, contexts, message } of entries)
    api.contextMenus.create({ id, contexts, title: api.i18n.getMessage(message) });
});

api.action.onClicked.addListener((tab) => sendPage(tab));

api.contextMenus.onClicked.addListener((info, tab) => {
  switch (info.menuItemId) {
    case "page":
    case "selection":
      return sendPage(tab, info.frameId, info.selectionText);
    case "link":
      return sendLink(tab, info.linkUrl);
    case "image":
      return sendImage(tab, info.srcUrl, info.frameId);
  }
});
