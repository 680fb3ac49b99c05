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
    // Whether dragging the toolbar moves the window (which has no title bar of its own then).
    property bool movesWindow: false
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
    // Moves the keyboard to the next row up or down, and back to the search field above the
    // first row.
    function move(step) {
        let index = current
        for (;;) {
            index += step
            if (index < 0) {
                current = -1
                searchField.forceActiveFocus(Qt.BacktabFocusReason)
                return
            }
            if (index >= entries.length)
                return
            if (entries[index].kind === "row") {
                current = index
                list.positionViewAtIndex(index, ListView.Contain)
                const entry = list.itemAtIndex(index)
                if (entry && entry.item)
                    entry.item.forceActiveFocus(Qt.TabFocusReason)
                return
            }
        }
    }
    // The rows there are, for Return in the search field.
    readonly property var rows: entries.filter(entry => entry.kind === "row")
    onEntriesChanged: current = -1
    StackView.onActivated: searchField.forceActiveFocus()

    title: qsTr("Send To")

    header: ToolBar {
        topPadding: 4
        bottomPadding: 9
        horizontalPadding: 16

        WindowMoveHandler {
            enabled: picker.movesWindow
        }

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
                    Accessible.onPressAction: clicked()
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()

                    FocusRing {
                        control: backButton
                    }
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
                // While searching, a spinner at the end of the field, never over the list.
                rightPadding: searchingIndicator.visible ? searchingIndicator.width + 12
                                                         : leftPadding
                Keys.onDownPressed: picker.move(1)
                // Return picks the only row there is.
                Keys.onReturnPressed: if (picker.rows.length === 1) picker.choose(picker.rows[0].row)
                Keys.onEnterPressed: if (picker.rows.length === 1) picker.choose(picker.rows[0].row)

                Spinner {
                    id: searchingIndicator
                    objectName: "searchingIndicator"
                    anchors.right: parent.right
                    anchors.rightMargin: 6
                    anchors.verticalCenter: parent.verticalCenter
                    visible: picker.model.isSearching
                    implicitWidth: 18
                    implicitHeight: 18
                    label: qsTr("Searching")
                }
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
        Accessible.role: Accessible.List
        Accessible.name: picker.model.searchResultRows === undefined
                         || picker.model.searchResultRows === null
                         ? qsTr("Destinations") : qsTr("Search Results")

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
                    id: pickerRow
                    objectName: "pickerRow"
                    readonly property var row: entry.modelData.row
                    readonly property bool selected: picker.isSelected(row)
                    highlighted: picker.current === entry.index || visualFocus
                    leftPadding: 16
                    rightPadding: 16
                    topPadding: 8
                    bottomPadding: 8
                    focusPolicy: Qt.StrongFocus
                    onClicked: picker.choose(row)
                    onActiveFocusChanged: if (activeFocus) picker.current = entry.index
                    Keys.onUpPressed: picker.move(-1)
                    Keys.onDownPressed: picker.move(1)
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    Accessible.role: Accessible.ListItem
                    Accessible.name: row.name
                    Accessible.description: subtitle.text
                    // The destination the share goes to now is the row's own state.
                    Accessible.selectable: true
                    Accessible.selected: selected
                    Accessible.onPressAction: clicked()

                    // The keyboard's row: a faint highlight and a ring, so that the text on it
                    // keeps its contrast.
                    background: Rectangle {
                        color: pickerRow.highlighted ? SheetColors.tint(picker.palette.highlight)
                             : pickerRow.down ? SheetColors.fill(picker.palette.windowText)
                             : "transparent"
                        border.width: pickerRow.highlighted ? 2 : 0
                        border.color: picker.palette.highlight
                        radius: 8
                    }

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
                                background: picker.palette.window
                                Accessible.ignored: true
                            }
                        }
                        ColumnLayout {
                            spacing: 2
                            Layout.fillWidth: true
                            Layout.minimumWidth: 0
                            Label {
                                objectName: "rowName"
                                text: row.name
                                color: picker.palette.windowText
                                elide: Label.ElideRight
                                maximumLineCount: 1
                                Layout.fillWidth: true
                                Accessible.ignored: true
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
                                Accessible.ignored: true
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
                            // On the highlight, in the text's colour: blue on blue would vanish.
                            color: pickerRow.highlighted ? picker.palette.windowText
                                                         : picker.palette.highlight
                            implicitWidth: 16
                            implicitHeight: 16
                            Accessible.ignored: true
                        }
                    }
                }
            }
            // Roles on wrappers: a label keeps the role of a label whatever it is told.
            Component {
                id: sectionHeader
                Item {
                    implicitHeight: headerLabel.implicitHeight
                    Accessible.role: Accessible.Heading
                    Accessible.name: headerLabel.text

                    Label {
                        id: headerLabel
                        objectName: "recentThreadsHeader"
                        text: qsTr("Recent Threads")
                        font.bold: true
                        font.pointSize: Qt.application.font.pointSize * 0.85
                        color: SheetColors.secondary(picker.palette.windowText)
                        leftPadding: 16
                        topPadding: 12
                        bottomPadding: 4
                        Accessible.ignored: true
                    }
                }
            }
            Component {
                id: loadingRow
                Item {
                    objectName: "recentThreadsLoading"
                    implicitHeight: 44
                    Spinner {
                        anchors.centerIn: parent
                        implicitWidth: 24
                        implicitHeight: 24
                        label: qsTr("Loading recent threads")
                    }
                }
            }
            Component {
                id: errorRow
                Item {
                    implicitHeight: errorLabel.implicitHeight
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: errorLabel.text

                    Label {
                        id: errorLabel
                        objectName: "destinationsError"
                        width: parent.width
                        text: picker.model.destinationsError
                        color: SheetColors.secondary(picker.palette.windowText)
                        wrapMode: Text.Wrap
                        leftPadding: 16
                        rightPadding: 16
                        topPadding: 8
                        bottomPadding: 8
                        Accessible.ignored: true
                    }
                }
            }
            Component {
                id: noMatchRow
                // Announced as the answer to what was typed.
                Item {
                    implicitHeight: noMatchLabel.implicitHeight
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: noMatchLabel.text

                    Label {
                        id: noMatchLabel
                        objectName: "noMatch"
                        width: parent.width
                        text: qsTr("No threads match “%1”").arg(picker.model.searchQuery)
                        color: SheetColors.secondary(picker.palette.windowText)
                        wrapMode: Text.Wrap
                        leftPadding: 16
                        rightPadding: 16
                        topPadding: 8
                        bottomPadding: 8
                        Accessible.ignored: true
                    }
                }
            }
        }
    }
}
