.pragma library

// Colours derived from the palette, as the sheet's views use them.

// The secondary and tertiary label colours: the text colour, fainter.
function secondary(text) { return Qt.rgba(text.r, text.g, text.b, 0.6) }
function tertiary(text) { return Qt.rgba(text.r, text.g, text.b, 0.35) }
// The secondary style at 12 %.
function fill(text) { return Qt.rgba(text.r, text.g, text.b, 0.6 * 0.12) }
// The secondary style at 30 %, for hairline borders.
function border(text) { return Qt.rgba(text.r, text.g, text.b, 0.6 * 0.3) }
// Dividers and the edges of cards: about 2:1 against the window, light or dark, where the 12 %
// fill alone gives 1.2:1.
function separator(text) { return Qt.rgba(text.r, text.g, text.b, 0.28) }
// The row the keyboard is on: the highlight, faint enough for the text on it to keep its contrast.
function tint(highlight) { return Qt.rgba(highlight.r, highlight.g, highlight.b, 0.18) }
function isDark(window) { return window.hslLightness < 0.5 }
function red(window) { return isDark(window) ? "#ff453a" : "#d70015" }
function green(window) { return isDark(window) ? "#30d158" : "#248a3d" }
