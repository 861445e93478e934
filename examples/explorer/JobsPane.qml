import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// Long work in the background: "Pack" writes the files chosen in the folder
// pane into a ZIP archive, "Copy folder" copies the folder being browsed.
// One progress bar follows the run's amounts; Cancel stops it, and a
// canceled or failed run leaves the target as it was.
//
// The byte counts are 64-bit integers, a type Qt 6.4's qmllint does not know.
// qmllint disable type
Pane {
    id: pane

    property FileFolder folder
    property var selectedNames: []
    readonly property bool busy: packer.busy || copier.busy
    // What the last run did, in a few words.
    property string outcome: ""

    // At the end of every run: its kind ("pack" or "copy") and whether it
    // completed without an error.
    signal finished(string kind, bool success)

    ZipArchive {
        id: packer
        asynchronous: true
        property int errors: 0

        onCompressError: function (fileName, result) {
            errors++
            pane.outcome = "could not pack " + fileName + " (error " + result + ")"
        }
        onCompressCompleted: {
            if (errors === 0)
                pane.outcome = "packed " + processedEntries + " files into " + path
            pane.finished("pack", errors === 0)
        }
        onCompressCanceled: {
            pane.outcome = "packing canceled after " + processedEntries + " of " + totalEntries + " files"
            pane.finished("pack", false)
        }
    }

    FileFolder {
        id: copier
        asynchronous: true

        onCopyCompleted: function (success) {
            pane.outcome = success ? "copied " + processedEntries + " entries, " + processedBytes + " bytes"
                                   : "the copy failed; what it made was removed"
            pane.finished("copy", success)
        }
        onCopyCanceled: {
            pane.outcome = "copy canceled at " + processedBytes + " of " + totalBytes + " bytes"
            pane.finished("copy", false)
        }
    }

    // The run shown by the bar: the one that is busy, else the last one.
    property var current: packer

    // Packs the selected files of `folder` into the archive at
    // `archivePath`; true when the run started.
    function pack(archivePath) {
        current = packer
        packer.errors = 0
        packer.path = archivePath
        outcome = ""
        return packer.compressFiles(folder.path, selectedNames)
    }

    // Copies the folder being browsed, with everything below it, to
    // `targetPath`; true when the run started.
    function copyFolder(targetPath) {
        current = copier
        copier.path = folder.path
        outcome = ""
        return copier.cdUp() && copier.copyFile(folder.folderName, targetPath)
    }

    function cancel() {
        packer.cancel()
        copier.cancel()
    }

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Layout.fillWidth: true
            TextField {
                id: archiveField
                Layout.fillWidth: true
                text: "$TEMP/maporaextras-packed.zip"
                placeholderText: "Archive to write"
            }
            Button {
                text: "Pack " + pane.selectedNames.length
                enabled: !pane.busy && pane.selectedNames.length > 0
                onClicked: pane.pack(System.resolvedPath(archiveField.text))
            }
        }
        RowLayout {
            Layout.fillWidth: true
            TextField {
                id: copyField
                Layout.fillWidth: true
                text: "$TEMP/maporaextras-copy"
                placeholderText: "Copy the folder to"
            }
            Button {
                text: "Copy folder"
                enabled: !pane.busy && pane.folder && pane.folder.exists
                onClicked: pane.copyFolder(System.resolvedPath(copyField.text))
            }
        }
        RowLayout {
            Layout.fillWidth: true
            ProgressBar {
                Layout.fillWidth: true
                value: pane.current.totalBytes > 0 ? pane.current.processedBytes / pane.current.totalBytes : 0
            }
            Button {
                text: "Cancel"
                enabled: pane.busy
                onClicked: pane.cancel()
            }
        }
        Label {
            Layout.fillWidth: true
            elide: Text.ElideMiddle
            text: pane.busy ? pane.current.processedEntries + " of " + pane.current.totalEntries + " files, "
                              + Math.round(pane.current.processedBytes / 1024) + " of "
                              + Math.round(pane.current.totalBytes / 1024) + " KiB"
                            : pane.outcome
        }
    }
}
