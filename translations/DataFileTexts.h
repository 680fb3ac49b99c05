// The texts of the data files that desktops, file managers, software centres, KDE's Share menu
// and the browsers read: read by lupdate, never compiled. zelt-localize-data writes each file's
// translations from the catalogues at build time, and stops the build when a text of a file is
// missing here, so a text changed in a file must be changed here too.

#include <QtGlobal>

// app.zelt.ZeltShare.desktop, app.zelt.ZeltControls.desktop and the file managers' menus
// (Dolphin, Thunar, Nemo, GNOME Files).
QT_TRANSLATE_NOOP("DesktopEntry", "Send to Zelt");
//: The kind of program, shown beside its name in some launchers.
QT_TRANSLATE_NOOP("DesktopEntry", "Share sheet");
QT_TRANSLATE_NOOP("DesktopEntry", "Send files and links to a Zelt thread or to Tovi");
//: Search words of the launcher, each followed by a semicolon. Keep Zelt and Tovi; add words
//: of your language that users would type.
QT_TRANSLATE_NOOP("DesktopEntry", "Zelt;Tovi;share;send;upload;");
QT_TRANSLATE_NOOP("DesktopEntry", "Send the selected files to a Zelt thread or to Tovi");
//: The product's name, as an entry of Thunar's "Send To" menu. Keep it as it is.
QT_TRANSLATE_NOOP("DesktopEntry", "Zelt");
QT_TRANSLATE_NOOP("DesktopEntry", "Zelt Controls");
//: The kind of program, shown beside its name in some launchers.
QT_TRANSLATE_NOOP("DesktopEntry", "Zelt shortcuts");
QT_TRANSLATE_NOOP("DesktopEntry",
                  "Open Zelt on a new thread, on Tovi, with dictation or in a call");
//: Search words of the launcher, each followed by a semicolon. Keep Zelt and Tovi; add words
//: of your language that users would type.
QT_TRANSLATE_NOOP("DesktopEntry", "Zelt;Tovi;thread;dictation;call;");

// app.zelt.ZeltShare.metainfo.xml, the software centres' record of the share sheet.
QT_TRANSLATE_NOOP("Metainfo", "Send to Zelt");
QT_TRANSLATE_NOOP("Metainfo", "Share files and links with a Zelt thread or with Tovi");
QT_TRANSLATE_NOOP("Metainfo", "Send files, images, movies, text and links from any application to "
                              "Zelt: pick Tovi, a recent thread or a thread found by search, add a "
                              "message, and send.");
//: "Open With" is the file manager's menu of that name: use its name in your language.
QT_TRANSLATE_NOOP("Metainfo", "The share sheet is offered in the file manager's context menu and "
                              "in \"Open With\", and uses the session of the Zelt application "
                              "that is signed in on this computer.");

// KDE's Share menu (the Purpose plugin's metadata.json).
//: The product's name, as the plugin's name. Keep it as it is.
QT_TRANSLATE_NOOP("PurposeMenu", "Zelt");
QT_TRANSLATE_NOOP("PurposeMenu", "Send files, images and links to a Zelt thread or to Tovi");
//: The entry of the Share menu; the ellipsis says that a window opens.
QT_TRANSLATE_NOOP("PurposeMenu", "Send to Zelt…");

// The browser extension (_locales/en/messages.json).
//: The extension's name in the browser's list of extensions.
QT_TRANSLATE_NOOP("BrowserExtension", "Zelt Share");
//: The extension's description in the browser's list of extensions.
QT_TRANSLATE_NOOP("BrowserExtension",
                  "Send the page, a selection, a link or an image to a Zelt thread or to Tovi.");
//: The toolbar button, and the context-menu entry on a page.
QT_TRANSLATE_NOOP("BrowserExtension", "Send Page to Zelt");
//: The context-menu entry on selected text: the page with the selection.
QT_TRANSLATE_NOOP("BrowserExtension", "Send Selection to Zelt");
//: The context-menu entry on a link.
QT_TRANSLATE_NOOP("BrowserExtension", "Send Link to Zelt");
//: The context-menu entry on an image.
QT_TRANSLATE_NOOP("BrowserExtension", "Send Image to Zelt");
//: The toolbar button's tooltip when the browser cannot start Zelt Share's program. Keep the
//: command zelt-share-enable-browsers as it is.
QT_TRANSLATE_NOOP("BrowserExtension", "Zelt Share is not set up for this browser. Install it, or "
                                      "run zelt-share-enable-browsers, and try again.");
//: The toolbar button's tooltip when Zelt Share's program ended without an answer.
QT_TRANSLATE_NOOP("BrowserExtension", "Zelt Share did not answer.");
//: The toolbar button's tooltip when an image without a web address could not be read.
QT_TRANSLATE_NOOP("BrowserExtension", "The image could not be read from the page.");
