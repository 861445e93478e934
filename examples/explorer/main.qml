import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// A folder browser on FileFolder with details from FileInfo, the entries of
// ZIP archives (ZipArchive, ZipFileInfo) and the EXIF data of JPEG files
// (ExifInfo), and a status line from System.
ApplicationWindow {
    id: window
    width: 1180
    height: 720
    visible: true
    title: "Quil.MaporaExtras Explorer"

    // The folder being browsed. It starts in the user's home folder.
    property FileFolder folder: System.userHomeFolder
    property string selectedPath: ""

    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 6
            anchors.rightMargin: 6
            ToolButton {
                text: "\u2191 Up"
                onClicked: if (window.folder.cdUp()) window.selectedPath = ""
            }
            ToolButton {
                text: "Home"
                onClicked: { window.folder.path = "~"; window.selectedPath = "" }
            }
            TextField {
                id: pathField
                Layout.fillWidth: true
                text: window.folder.path
                // Path variables work here: try $TEMP or ~/Documents.
                onAccepted: window.folder.path = text
            }
            TextField {
                id: filterField
                Layout.preferredWidth: 180
                placeholderText: "Name filter, e.g. *.jpg"
            }
        }
    }

    RowLayout {
        anchors.fill: parent

        ColumnLayout {
            Layout.preferredWidth: 340; Layout.fillHeight: true

            FolderPane {
                id: folderPane
                Layout.fillWidth: true; Layout.fillHeight: true
                folder: window.folder
                nameFilter: filterField.text
                selectedPath: window.selectedPath
                onFileSelected: window.selectedPath = path
                onFolderEntered: if (window.folder.cd(name)) window.selectedPath = ""
            }

            JobsPane {
                id: jobs
                Layout.fillWidth: true
                folder: window.folder
                selectedNames: folderPane.selectedNames
            }
        }

        DetailsPane {
            id: details
            Layout.fillWidth: true; Layout.fillHeight: true
            filePath: window.selectedPath
        }
    }

    footer: StatusLine {}

    // Without a display the explorer shows what it does on its samples: it
    // opens the sample ZIP, starts extracting it and cancels, extracts it
    // again to the end (shooting the window halfway), opens the sample JPEG,
    // packs the extracted files into a new archive and copies their folder,
    // both in the background, reports and saves the last screenshot.
    Timer {
        id: tourTimer
        interval: 50
        property int step: 0
        onTriggered: step === 0 ? window.openSampleZip() : window.extractSampleZip()
    }
    Component.onCompleted: if (tour.active) tourTimer.start()

    function openSampleZip() {
        folder.path = tour.samples
        tour.report("folder: " + folder.path + " holds " + folder.fileNames().join(", "))
        selectedPath = folder.filePath("sample.zip")
        // The ZIP pane is drawn once before the extraction starts.
        tourTimer.step = 1
        tourTimer.start()
    }

    Connections {
        target: tour
        function onLeaving() { window.selectedPath = "" }
    }

    property bool tourShotZip: false
    property bool tourShooting: false
    Connections {
        target: details.zip
        enabled: tour.active && !window.tourShooting
        function onProgressed() {
            // The shot renders a frame, and progress goes on arriving meanwhile.
            if (window.tourRun === 1 && details.zip.busy && details.zip.extractedCount * 2 >= details.zip.entryCount) {
                window.tourShooting = true
                window.tourShotZip = tour.snapshot("zip")
            }
        }
    }

    // 0: the canceled run, 1: the completed one.
    property int tourRun: 0
    property bool tourCanceled: false

    function extractSampleZip() {
        if (!details.zip.extractAll(tour.output + "/sample"))
            tour.finish(false)
        else
            details.zip.cancel()
    }

    Connections {
        target: details.zip
        enabled: tour.active
        function onFinished() {
            var zip = details.zip
            if (window.tourRun === 0) {
                window.tourCanceled = zip.canceled
                tour.report("zip: canceled after " + zip.extractedCount + " of " + zip.entryCount + " entries")
                window.tourRun = 1
                if (!zip.extractAll(tour.output + "/sample"))
                    tour.finish(false)
                return
            }
            window.showSampleJpeg()
        }
    }

    function showSampleJpeg() {
        var zip = details.zip
        var extracted = !zip.canceled && zip.extractedCount === zip.entryCount
        tour.report("zip: " + zip.entryCount + " entries, " + zip.extractedCount + " extracted, "
                    + zip.errorCount + " errors")

        selectedPath = folder.filePath("sample.jpg")
        var exif = details.exif
        tour.report("exif: " + (exif.valid ? "valid" : "invalid") + ", " + exif.tagCount + " tags")
        tour.report("gps: latitude " + exif.latitude.toFixed(6) + " longitude " + exif.longitude.toFixed(6)
                    + " altitude " + exif.altitude)
        tourSoFar = extracted && tourCanceled && zip.extractedCount > 0 && zip.errorCount === 0 && tourShotZip
                    && !isNaN(exif.latitude) && !isNaN(exif.longitude)
        packSampleFiles()
    }

    property bool tourSoFar: false

    // Ticks every sample file and packs them into a new archive.
    function packSampleFiles() {
        selectedPath = ""
        folderPane.selectedNames = folder.fileNames()
        if (!jobs.pack(tour.output + "/packed.zip"))
            tour.finish(false)
    }

    ZipArchive { id: packedCheck }

    Connections {
        target: jobs
        enabled: tour.active
        function onFinished(kind, success) {
            tour.report(kind + ": " + jobs.outcome)
            if (!success) {
                tour.finish(false)
            } else if (kind === "pack") {
                packedCheck.path = tour.output + "/packed.zip"
                var packed = packedCheck.fileNames.length
                tour.report("packed archive lists " + packed + " files")
                window.tourSoFar = window.tourSoFar && packed === folderPane.selectedNames.length && packed > 0
                // Then the extracted folder is copied.
                window.folder.path = tour.output + "/sample"
                if (!jobs.copyFolder(tour.output + "/backup"))
                    tour.finish(false)
            } else {
                tour.finish(window.tourSoFar)
            }
        }
    }
}
