import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// What FileInfo knows about the selected file, and the archive or EXIF
// view for ZIP and JPEG files.
Pane {
    id: pane

    property string filePath: ""
    readonly property bool isZip: info.suffix.toLowerCase() === "zip"
    readonly property bool isJpeg: /^jpe?g$/.test(info.suffix.toLowerCase())
    property alias zip: zipPane
    property alias exif: exifPane

    FileInfo {
        id: info
        filePath: pane.filePath
    }

    function permissionText(p) {
        var bits = [FileInfo.ReadOwner, FileInfo.WriteOwner, FileInfo.ExeOwner,
                    FileInfo.ReadGroup, FileInfo.WriteGroup, FileInfo.ExeGroup,
                    FileInfo.ReadOther, FileInfo.WriteOther, FileInfo.ExeOther]
        var text = ""
        for (var i = 0; i < bits.length; ++i)
            text += (p & bits[i]) ? "rwx".charAt(i % 3) : "-"
        return text
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        Label {
            text: pane.filePath.length > 0 ? info.fileName : "Select a file"
            font.pixelSize: 20
            font.bold: true
        }

        GridLayout {
            visible: info.exists
            columns: 2
            columnSpacing: 16
            Label { text: "Size"; opacity: 0.7 }
            Label { text: Number(info.size).toLocaleString(Qt.locale(), "f", 0) + " bytes" }
            Label { text: "Modified"; opacity: 0.7 }
            Label { text: info.lastModified.toLocaleString(Qt.locale(), Locale.ShortFormat) }
            Label { text: "Created"; opacity: 0.7 }
            Label { text: info.created.toLocaleString(Qt.locale(), Locale.ShortFormat) }
            Label { text: "Permissions"; opacity: 0.7 }
            Label { text: pane.permissionText(info.permissions) + (info.isSymLink ? "  \u2192 " + info.symLinkTarget : "") }
        }

        ZipPane {
            id: zipPane
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: pane.isZip
            archivePath: pane.isZip ? info.filePath : ""
        }

        ExifPane {
            id: exifPane
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: pane.isJpeg
            imagePath: pane.isJpeg ? info.filePath : ""
        }

        Item { Layout.fillHeight: true; visible: !pane.isZip && !pane.isJpeg }
    }
}
