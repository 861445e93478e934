import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// The entries of a ZIP archive with their sizes, and "Extract all" with a
// progress bar driven by extractProgress and a list of extractError reports.
ColumnLayout {
    id: pane

    property alias archivePath: archive.path
    readonly property int entryCount: archive.fileNames.length
    property int extractedCount: 0
    readonly property int errorCount: errors.count
    property bool busy: false

    ZipArchive {
        id: archive

        onExtractProgress: {
            progress.value = percent / 100
            current.text = fileName
            // Extraction runs inside the extractAll() call; the window shows
            // the final state when it returns.
            if (percent === 100)
                pane.extractedCount++
        }
        onExtractError: errors.append({ name: fileName, output: outputFileName, result: result })
    }

    FileFolder { id: outputFolder }

    // Extracts every entry below outputPath; true when the archive could be read.
    function extractAll(outputPath) {
        errors.clear()
        extractedCount = 0
        busy = true
        // Entries at the top of the archive need the output folder itself.
        outputFolder.path = outputPath
        outputFolder.makeFolder()
        var ok = archive.extractAll(outputPath)
        busy = false
        return ok
    }

    Label {
        text: archive.fileNames.length + " files, " + archive.folderNames.length + " folders"
        font.bold: true
    }

    ListView {
        id: entries
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        model: archive.fileNames
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
            enabled: !pane.busy && archive.fileNames.length > 0
            onClicked: pane.extractAll(System.resolvedPath(outputField.text))
        }
    }

    RowLayout {
        Layout.fillWidth: true
        ProgressBar { id: progress; Layout.fillWidth: true }
        Label { id: current; Layout.preferredWidth: 220; elide: Text.ElideMiddle }
    }

    Label {
        text: pane.extractedCount + " extracted"
              + (errors.count > 0 ? ", " + errors.count + " errors" : "")
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
