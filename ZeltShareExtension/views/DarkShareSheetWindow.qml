import QtQuick
import QtQuick.Controls

// The sheet when the desktop prefers dark: its own dark palette in place of the desktop's. Every
// colour is set for all groups at once, and the disabled ones after them; a binding that leaves
// the desktop's colour (undefined) would flatten the disabled group too, so the light sheet sets
// none.
ShareSheetWindow {
    palette.window: "#242426"
    palette.windowText: "#f2f2f7"
    palette.base: "#1c1c1e"
    palette.alternateBase: "#2c2c2e"
    palette.text: "#f2f2f7"
    palette.button: "#3a3a3c"
    palette.buttonText: "#f2f2f7"
    palette.light: "#545456"
    palette.midlight: "#3a3a3c"
    palette.mid: "#2c2c2e"
    palette.dark: "#141416"
    palette.shadow: "#000000"
    palette.highlight: "#0a84ff"
    palette.highlightedText: "#ffffff"
    palette.placeholderText: "#8cf2f2f7"
    palette.disabled.windowText: "#66f2f2f7"
    palette.disabled.text: "#66f2f2f7"
    palette.disabled.buttonText: "#66f2f2f7"
}
