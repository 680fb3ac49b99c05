import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Zelt.Share
import "SheetColors.js" as SheetColors

// Where the share goes: Tovi and the recent threads, or the threads a search finds. Choosing a
// row sets the destination, ends the search and goes back.
Page {
    id: picker

    required property var model
    // Back to the compose view.
    signal done()

    readonly property var toviRow: ({ tovi: true, name: qsTr("Tovi") })
    readonly property var entries: {
        const list = []
        const results = model.searchResultRows
        if (results !== undefined && results !== null) {
            if (results.length === 0 && !model.isSearching)
                list.push({ kind: "noMatch" })
            for (const row of results)
                list.push({ kind: "row", row: row })
            return list
        }
        if (model.toviAvailable)
            list.push({ kind: "row", row: toviRow })
        const recent = model.recentThreadRows
        if (!(model.destinationsLoaded && model.destinationsError === "" && recent.length === 0)) {
            list.push({ kind: "header" })
            if (!model.destinationsLoaded)
                list.push({ kind: "loading" })
            else if (model.destinationsError !== "")
                list.push({ kind: "error" })
            for (const row of recent)
                list.push({ kind: "row", row: row })
        }
        return list
    }
    // The row the keyboard points at; -1 for none.
    property int current: -1

    function isSelected(row) {
        const destination = model.destinationRow
        return row.tovi ? destination.tovi : (!destination.tovi && row.id === destination.id)
    }
    function choose(row) {
        model.chooseDestination(row)
        done()
    }
    function move(step) {
        let index = current
        for (;;) {
            index += step
            if (index < 0 || index >= entries.length)
                return
            if (entries[index].kind === "row") {
                current = index
                list.positionViewAtIndex(index, ListView.Contain)
                return
            }
        }
    }
    onEntriesChanged: current = -1
    StackView.onActivated: searchField.forceActiveFocus()

    title: qsTr("Send To")

    header: ToolBar {
        topPadding: 4
        bottomPadding: 9
        horizontalPadding: 16

        ColumnLayout {
            anchors.fill: parent
            spacing: 6

            // The search field lines up with the sheet's cards, 16 in; Back sits where the
            // compose view's Cancel does.
            RowLayout {
                Layout.leftMargin: -10
                Layout.rightMargin: -10

                Button {
                    id: backButton
                    objectName: "backButton"
                    text: qsTr("‹ Back")
                    flat: true
                    onClicked: picker.done()
                    Accessible.name: qsTr("Back")
                }
                Label {
                    text: picker.title
                    font.bold: true
                    horizontalAlignment: Qt.AlignHCenter
                    Layout.fillWidth: true
                }
                // Balances the back button, so that the title is centred.
                Item {
                    implicitWidth: backButton.implicitWidth
                }
            }
            TextField {
                id: searchField
                objectName: "searchField"
                placeholderText: qsTr("Search Threads")
                text: picker.model.searchQuery
                onTextChanged: if (text !== picker.model.searchQuery) picker.model.searchQuery = text
                focus: true
                Layout.fillWidth: true
                Accessible.name: qsTr("Search Threads")
                Keys.onDownPressed: picker.move(1)
                Keys.onUpPressed: picker.move(-1)
                Keys.onReturnPressed: if (picker.current >= 0) picker.choose(picker.entries[picker.current].row)
                Keys.onEnterPressed: if (picker.current >= 0) picker.choose(picker.entries[picker.current].row)
            }
        }
    }

    ListView {
        id: list
        objectName: "destinationList"
        anchors.fill: parent
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        clip: true
        model: picker.entries
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        delegate: Loader {
            id: entry
            required property var modelData
            required property int index
            width: ListView.view.width
            sourceComponent: modelData.kind === "row" ? destinationRow
                           : modelData.kind === "header" ? sectionHeader
                           : modelData.kind === "loading" ? loadingRow
                           : modelData.kind === "error" ? errorRow
                           : noMatchRow

            Component {
                id: destinationRow
                ItemDelegate {
                    objectName: "pickerRow"
                    readonly property var row: entry.modelData.row
                    readonly property bool selected: picker.isSelected(row)
                    highlighted: picker.current === entry.index
                    leftPadding: 16
                    rightPadding: 16
                    topPadding: 8
                    bottomPadding: 8
                    onClicked: picker.choose(row)
                    Accessible.name: row.name
                    Accessible.description: subtitle.text

                    contentItem: RowLayout {
                        spacing: 12
                        Item {
                            implicitWidth: 30
                            implicitHeight: 30
                            ShareDestinationIcon {
                                anchors.centerIn: parent
                                size: 30
                                tovi: row.tovi
                                threadId: row.tovi ? "" : row.id
                                threadColor: row.tovi ? "" : row.color
                            }
                        }
                        ColumnLayout {
                            spacing: 2
                            Layout.fillWidth: true
                            Layout.minimumWidth: 0
                            Label {
                                objectName: "rowName"
                                text: row.name
                                elide: Label.ElideRight
                                maximumLineCount: 1
                                Layout.fillWidth: true
                            }
                            Label {
                                id: subtitle
                                objectName: "rowSubtitle"
                                text: row.tovi ? qsTr("Finds the right thread or starts one")
                                               : row.updated
                                color: SheetColors.secondary(picker.palette.windowText)
                                font.pointSize: Qt.application.font.pointSize * 0.85
                                elide: Label.ElideRight
                                maximumLineCount: 1
                                Layout.fillWidth: true
                            }
                        }
                        Item {
                            implicitWidth: 8
                        }
                        SymbolIcon {
                            objectName: "selectedMark"
                            visible: selected
                            name: "checkmark"
                            bold: true
                            color: picker.palette.highlight
                            implicitWidth: 16
                            implicitHeight: 16
                            Accessible.role: Accessible.Graphic
                            Accessible.name: qsTr("Selected")
                        }
                    }
                }
            }
            Component {
                id: sectionHeader
                Label {
                    objectName: "recentThreadsHeader"
                    text: qsTr("Recent Threads")
                    font.bold: true
                    font.pointSize: Qt.application.font.pointSize * 0.85
                    color: SheetColors.secondary(picker.palette.windowText)
                    leftPadding: 16
                    topPadding: 12
                    bottomPadding: 4
                }
            }
            Component {
                id: loadingRow
                Item {
                    objectName: "recentThreadsLoading"
                    implicitHeight: 44
                    BusyIndicator {
                        anchors.centerIn: parent
                        running: true
                        implicitWidth: 24
                        implicitHeight: 24
                    }
                }
            }
            Component {
                id: errorRow
                Label {
                    objectName: "destinationsError"
                    text: picker.model.destinationsError
                    color: SheetColors.secondary(picker.palette.windowText)
                    wrapMode: Text.Wrap
                    leftPadding: 16
                    rightPadding: 16
                    topPadding: 8
                    bottomPadding: 8
                }
            }
            Component {
                id: noMatchRow
                Label {
                    objectName: "noMatch"
                    text: qsTr("No threads match “%1”").arg(picker.model.searchQuery)
                    color: SheetColors.secondary(picker.palette.windowText)
                    wrapMode: Text.Wrap
                    leftPadding: 16
                    rightPadding: 16
                    topPadding: 8
                    bottomPadding: 8
                }
            }
        }
    }

    BusyIndicator {
        objectName: "searchingIndicator"
        anchors.centerIn: parent
        readonly property var results: picker.model.searchResultRows
        visible: picker.model.isSearching && (results === undefined || results === null
                                              || results.length === 0)
        running: visible
        Accessible.name: qsTr("Searching")
    }
}
