import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1
import "ExifNames.js" as ExifNames

// The EXIF tags of a JPEG (image, Exif and GPS tables) and its position.
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
                              value: ExifNames.format(read(tag)) })
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
              : "GPS " + exif.gpsLatitude.toFixed(6) + ", " + exif.gpsLongitude.toFixed(6)
                + (isNaN(exif.gpsAltitude) ? "" : ", " + exif.gpsAltitude.toFixed(1) + " m")
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
            Label { text: modelData.tag; opacity: 0.6; Layout.preferredWidth: 60 }
            Label { text: modelData.name; Layout.preferredWidth: 200 }
            Label { text: modelData.value; Layout.fillWidth: true; elide: Text.ElideRight }
        }
    }
}
