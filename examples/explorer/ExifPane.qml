import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1
import "ExifNames.js" as ExifNames

// The picture of a JPEG, its EXIF tags (image, Exif and GPS tables) in
// readable form, and its position.
ColumnLayout {
    id: pane

    property alias imagePath: exif.filePath
    readonly property bool valid: exif.isExifValid
    readonly property real latitude: exif.gpsLatitude
    readonly property real longitude: exif.gpsLongitude
    readonly property real altitude: exif.gpsAltitude
    readonly property int tagCount: rows.length

    ExifInfo { id: exif }

    // One row per tag; re-read whenever the file changes (exifChanged).
    readonly property var rows: {
        var result = []
        function add(table, tags, read) {
            tags.forEach(function (tag) {
                result.push({ table: table, tag: tag, name: ExifNames.name(table, tag),
                              value: ExifNames.format(table, tag, read(tag)) })
            })
        }
        add("Image", exif.imageTags, exif.imageValue)
        add("Exif", exif.extendedTags, exif.extendedValue)
        add("GPS", exif.gpsTags, exif.gpsValue)
        return result
    }

    Label {
        font.bold: true
        text: !exif.isExifValid ? "No EXIF data"
              : isNaN(exif.gpsLatitude) ? "No GPS position"
              : "GPS " + ExifNames.position(exif.gpsLatitude, exif.gpsLongitude, exif.gpsAltitude)
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.fillHeight: true
        spacing: 12

        // The picture itself, decoded at the size shown and turned upright
        // by its orientation tag.
        Image {
            Layout.preferredWidth: 280
            Layout.preferredHeight: 210
            Layout.alignment: Qt.AlignTop
            source: exif.filePath !== "" ? exif.url : ""
            sourceSize.width: 560
            sourceSize.height: 420
            fillMode: Image.PreserveAspectFit
            horizontalAlignment: Image.AlignLeft
            verticalAlignment: Image.AlignTop
            autoTransform: true
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: pane.rows
            ScrollBar.vertical: ScrollBar {}
            delegate: RowLayout {
                width: list.width
                Label { text: modelData.table; opacity: 0.6; Layout.preferredWidth: 50 }
                Label { text: modelData.name || modelData.tag; Layout.preferredWidth: 180; elide: Text.ElideRight }
                Label { text: modelData.value; Layout.fillWidth: true; elide: Text.ElideRight }
            }
        }
    }
}
