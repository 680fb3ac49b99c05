import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "SheetColors.js" as SheetColors

// The upload's progress bar and "Uploading n%".
ColumnLayout {
    id: progress

    property real value: 0
    readonly property int percent: Math.floor(value * 100)
    // The number keeps still as it grows when every digit has one width: in the sheet's own font
    // when its digits do (those of most desktop fonts do), else in one whose digits do.
    readonly property bool evenDigits: {
        const zero = digitMetrics.advanceWidth("0")
        return [..."123456789"].every(digit => digitMetrics.advanceWidth(digit) === zero)
    }

    spacing: 4

    ProgressBar {
        id: bar
        from: 0
        to: 1
        value: progress.value
        Layout.fillWidth: true
        Accessible.name: qsTr("Upload Progress")
    }
    Label {
        objectName: "uploadProgressLabel"
        text: qsTr("Uploading %1%").arg(progress.percent)
        color: SheetColors.secondary(bar.palette.windowText)
        font.pointSize: Qt.application.font.pointSize * 0.85
        font.family: progress.evenDigits ? Qt.application.font.family : "DejaVu Sans"
    }
    FontMetrics {
        id: digitMetrics
        font: Qt.application.font
    }
}
