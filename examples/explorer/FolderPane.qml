import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// The folders and files of one FileFolder, folders first.
Pane {
    id: pane

    property FileFolder folder
    property string nameFilter: ""
    property string selectedPath: ""
    property int revision: 0
    // The files ticked for packing, by name.
    property var selectedNames: []

    signal fileSelected(string path)
    signal folderEntered(string name)

    function setSelected(name, selected) {
        var names = selectedNames.filter(function (n) { return n !== name })
        if (selected)
            names.push(name)
        selectedNames = names
    }

    // Re-read whenever the folder moves, the filter changes or on request.
    readonly property var entries: {
        revision
        if (!folder || !folder.exists)
            return []
        var filter = nameFilter.length > 0 ? nameFilter.split(/[ ;,]+/) : "*"
        var list = folder.folderNames().map(function (name) { return { name: name, isFolder: true } })
        return list.concat(folder.fileNames(filter).map(function (name) { return { name: name, isFolder: false } }))
    }
    Connections {
        target: pane.folder
        function onPathChanged() {
            pane.selectedNames = []
            pane.revision++
        }
    }

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Label {
                Layout.fillWidth: true
                text: folder ? folder.folderName || folder.path : ""
                font.bold: true
                elide: Text.ElideMiddle
            }
            ToolButton { text: "\u21bb"; onClicked: pane.revision++ }
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: pane.entries
            ScrollBar.vertical: ScrollBar {}
            delegate: RowLayout {
                width: list.width
                // A ballot box rather than a CheckBox: the software scene graph
                // keeps a CheckBox's indicator image past the window's end.
                ToolButton {
                    visible: !modelData.isFolder
                    readonly property bool ticked: pane.selectedNames.indexOf(modelData.name) >= 0
                    text: ticked ? "\u2611" : "\u2610"
                    onClicked: pane.setSelected(modelData.name, !ticked)
                }
                ItemDelegate {
                    Layout.fillWidth: true
                    text: modelData.isFolder ? modelData.name + "/" : modelData.name
                    font.bold: modelData.isFolder
                    highlighted: !modelData.isFolder && pane.folder.filePath(modelData.name) === pane.selectedPath
                    onClicked: modelData.isFolder ? pane.folderEntered(modelData.name)
                                                  : pane.fileSelected(pane.folder.filePath(modelData.name))
                }
            }
        }

        Label {
            text: pane.entries.length + " entries" + (pane.selectedNames.length > 0 ? ", " + pane.selectedNames.length + " ticked" : "")
            opacity: 0.7
        }
    }
}
