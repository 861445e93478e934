import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// The entries of a ZIP archive with their sizes, and "Extract all" in the
// background with a progress bar driven by extractProgress, a Cancel button
// and a list of extractError reports.
ColumnLayout {
    id: pane

    property alias archivePath: archive.path
    // Only an archive with a path is asked for its names: one without has
    // nothing to list (and says so in the log). The lists are copied: a list
    // read from a C++ property stays tied to it and is read again, archive
    // walk included, on every later access.
    readonly property var fileNames: archive.path !== "" ? Array.from(archive.fileNames) : []
    readonly property var folderNames: archive.path !== "" ? Array.from(archive.folderNames) : []
    readonly property int entryCount: fileNames.length
    property int extractedCount: 0
    readonly property int errorCount: errors.count
    readonly property alias busy: archive.busy
    property bool canceled: false
    // The entry being extracted and how far it is, in percent.
    property string currentName: ""
    property real currentPercent: 0

    // After each progress report, once the pane shows it.
    signal progressed()
    // When a run has ended, completed or canceled.
    signal finished()

    ZipArchive {
        id: archive
        // The window goes on drawing while the worker extracts.
        asynchronous: true

        onExtractProgress: function (fileName, outputFileName, percent) {
            pane.currentName = fileName
            pane.currentPercent = percent
            if (percent === 100)
                pane.extractedCount++
            pane.progressed()
        }
        onExtractError: function (fileName, outputFileName, result) {
            errors.append({ name: fileName, output: outputFileName, result: result })
        }
        onExtractCompleted: pane.finished()
        onExtractCanceled: {
            pane.canceled = true
            pane.finished()
        }
    }

    FileFolder { id: outputFolder }

    // Starts extracting every entry below outputPath; true when the run
    // started, and finished() comes at its end.
    function extractAll(outputPath) {
        errors.clear()
        extractedCount = 0
        currentName = ""
        currentPercent = 0
        canceled = false
        return archive.extractAll(outputPath)
    }

    function cancel() {
        archive.cancel()
    }

    Label {
        text: pane.fileNames.length + " files, " + pane.folderNames.length + " folders"
        font.bold: true
    }

    ListView {
        id: entries
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        model: pane.fileNames
        ScrollBar.vertical: ScrollBar {}
        delegate: RowLayout {
            width: entries.width
            // A snapshot of the entry; it stays valid when the archive closes.
            property ZipFileInfo entry: archive.fileInfo(modelData)
            Label { Layout.fillWidth: true; text: modelData; elide: Text.ElideMiddle }
            Label { text: entry ? entry.size + " B" : ""; horizontalAlignment: Text.AlignRight; Layout.preferredWidth: 110 }
            Label { text: entry ? entry.compressedSize + " B packed" : ""; opacity: 0.7; Layout.preferredWidth: 140 }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        TextField {
            id: outputField
            Layout.fillWidth: true
            text: "$TEMP/maporaextras-explorer"
            placeholderText: "Output folder"
        }
        Button {
            text: "Extract all"
            enabled: !pane.busy && pane.entryCount > 0
            onClicked: pane.extractAll(System.resolvedPath(outputField.text))
        }
        Button {
            text: "Cancel"
            enabled: pane.busy
            onClicked: pane.cancel()
        }
    }

    // The whole archive: the entries done plus the part of the current one.
    ProgressBar {
        Layout.fillWidth: true
        value: pane.entryCount === 0 ? 0
               : Math.min(1, (pane.extractedCount + (pane.currentPercent < 100 ? pane.currentPercent / 100 : 0))
                             / pane.entryCount)
    }
    Label {
        Layout.fillWidth: true
        elide: Text.ElideMiddle
        text: pane.currentName === "" ? ""
              : pane.extractedCount + " of " + pane.entryCount + " extracted"
                + (pane.currentPercent < 100 ? ", now " + pane.currentName + " " + Math.round(pane.currentPercent) + "%"
                                             : ", last " + pane.currentName)
                + (errors.count > 0 ? ", " + errors.count + " errors" : "")
                + (pane.canceled ? ", canceled" : "")
    }

    ListModel { id: errors }
    Repeater {
        model: errors
        Label {
            color: "firebrick"
            text: name + " \u2192 " + output + ": error " + result
        }
    }
}
