import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

// The archives come from tests/data/zip/, written by Python's zipfile
// (tests/data/zip/zipmaker.py --fixtures tests/data/zip):
//   basic.zip: a/ (folder), a/b.txt (10000 x "b", dated 2021-01-31 13:45:58),
//              c.txt ("c"), docs/report.tar.gz (500 x "r", deflated), empty.txt
//   slip.zip:  ../escaped.txt, inside.txt
TestCase {
    id: testCase
    name: "ZipArchive"

    property var root: null

    FileFolder { id: scratch }
    FileInfo { id: basicFixture; url: Qt.resolvedUrl("../data/zip/basic.zip") }
    FileInfo { id: slipFixture; url: Qt.resolvedUrl("../data/zip/slip.zip") }

    Component {
        id: archiveComponent
        ZipArchive {}
    }

    SignalSpy { id: progressSpy; signalName: "extractProgress" }
    SignalSpy { id: errorSpy; signalName: "extractError" }
    SignalSpy { id: completedSpy; signalName: "extractCompleted" }

    function init() {
        root = scratch.folder("maporaextras-zip-" + Date.now() + "-" + Math.floor(Math.random() * 1e6))
        verify(root.makeFolder())
        verify(root.makePath("out"))
    }

    function cleanup() {
        verify(root.removeFolder())
        root = null
    }

    function createArchive(path) {
        var archive = archiveComponent.createObject(testCase, { path: path })
        for (var spy of [progressSpy, errorSpy, completedSpy]) {
            spy.clear()
            spy.target = archive
        }
        return archive
    }

    // CRC-32 as ZIP defines it, computed here independently of zlib.
    function crc32(text) {
        var crc = 0xffffffff
        for (var i = 0; i < text.length; ++i) {
            crc ^= text.charCodeAt(i)
            for (var bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? (crc >>> 1) ^ 0xedb88320 : crc >>> 1
        }
        return (crc ^ 0xffffffff) >>> 0
    }

    function test_listingOpensLazily() {
        var archive = createArchive(basicFixture.filePath)
        compare(archive.path, basicFixture.filePath)
        verify(!archive.isOpen, "setting the path opens nothing")
        compare(archive.fileNames, ["a/b.txt", "c.txt", "docs/report.tar.gz", "empty.txt"])
        compare(archive.folderNames, ["a"])
        verify(archive.isOpen)
        archive.destroy()
    }

    function test_lookup_data() {
        return [
            { tag: "exact name", name: "a/b.txt", caseSensitive: false, found: true },
            { tag: "other case, insensitive", name: "A/B.TXT", caseSensitive: false, found: true },
            { tag: "other case, sensitive", name: "A/B.TXT", caseSensitive: true, found: false },
            { tag: "folder entry", name: "a/", caseSensitive: true, found: true },
            { tag: "missing", name: "nothing.txt", caseSensitive: false, found: false }
        ]
    }

    function test_lookup(data) {
        var archive = createArchive(basicFixture.filePath)
        archive.caseSensitive = data.caseSensitive
        compare(archive.exists(data.name), data.found)
        var info = archive.fileInfo(data.name)
        compare(info !== null, data.found)
        if (info !== null)
            compare(info.filePath, data.name, "the name as asked for, not as stored")
        archive.destroy()
    }

    function test_fileInfoFields() {
        var archive = createArchive(basicFixture.filePath)
        var report = archive.fileInfo("docs/report.tar.gz")
        var dated = archive.fileInfo("a/b.txt")
        var top = archive.fileInfo("c.txt")
        archive.destroy()
        wait(0)

        compare(report.size, "500")
        verify(Number(report.compressedSize) > 0 && Number(report.compressedSize) < 500,
               "deflated: " + report.compressedSize)
        compare(report.path, "docs")
        compare(report.fileName, "report.tar.gz")
        compare(report.suffix, "gz")
        compare(report.crc, crc32("r".repeat(500)))
        compare(top.path, ".")
        compare(top.crc, crc32("c"))
        compare(top.size, top.compressedSize, "stored")
        var modified = dated.lastModified
        compare([modified.getFullYear(), modified.getMonth() + 1, modified.getDate()], [2021, 1, 31])
        compare([modified.getHours(), modified.getMinutes(), modified.getSeconds()], [13, 45, 58])
    }

    function test_zipFileInfoIsUncreatable() {
        var message = ""
        try {
            Qt.createQmlObject("import Quil.MaporaExtras 1.1; ZipFileInfo {}", testCase, "uncreatable")
        } catch (e) {
            message = e.qmlErrors[0].message
        }
        compare(message, "The Quil Mapora Extras type ZipFileInfo is not creatable")
    }

    function test_extractProgress_data() {
        return [
            { tag: "10000 bytes", name: "a/b.txt", percents: [0, 40.96, 81.92, 100], size: 10000 },
            { tag: "empty entry", name: "empty.txt", percents: [100], size: 0 }
        ]
    }

    function test_extractProgress(data) {
        var archive = createArchive(basicFixture.filePath)
        var output = root.filePath("out/extracted")
        verify(archive.extractFile(data.name, output))
        compare(progressSpy.count, data.percents.length)
        for (var i = 0; i < data.percents.length; ++i) {
            var args = progressSpy.signalArguments[i]
            compare(args[0], data.name)
            compare(args[1], output)
            fuzzyCompare(args[2], data.percents[i], 1e-9)
        }
        compare(errorSpy.count, 0)
        compare(completedSpy.count, 0, "only extractAll completes")
        compare(root.fileInfo("out/extracted").size, String(data.size))
        archive.destroy()
    }

    function test_extractAllSkipsEntriesOutsideTarget() {
        var target = root.folder("out")
        var archive = createArchive(slipFixture.filePath)
        verify(!archive.extractAll(target.path), "a skipped entry is a failed one")
        compare(errorSpy.count, 1)
        compare(errorSpy.signalArguments[0][0], "../escaped.txt")
        compare(errorSpy.signalArguments[0][2], ZipArchive.ParameterError)
        compare(completedSpy.count, 1)
        compare(target.fileNames(), ["inside.txt"])
        compare(target.readTextFile("inside.txt"), "inside")
        verify(!root.fileExists("escaped.txt"))
        archive.destroy()
    }

    function test_writeFromQml() {
        verify(root.makePath("src/sub"))
        verify(root.writeTextFile("src/notes.txt", "written from QML"))
        verify(root.writeTextFile("src/sub/more.txt", "more"))
        var archive = createArchive(root.filePath("made.zip"))
        var completed = createTemporaryObject(signalSpyComponent, testCase,
                                              { target: archive, signalName: "compressCompleted" })
        verify(archive.zwOpen())
        verify(archive.addFiles(root.filePath("src"), ["notes.txt", "missing.txt"]))
        verify(archive.addFile(root.filePath("src"), "sub/more.txt", "a comment"))
        verify(!archive.addFile(root.filePath("src"), "../made.zip"))
        archive.close()
        compare(completed.count, 1)
        compare(archive.fileNames, ["notes.txt", "sub/more.txt"])
        verify(archive.extractAll(root.filePath("out")))
        compare(root.readTextFile("out/sub/more.txt"), "more")
        archive.destroy()
    }

    function test_compressFiles_data() {
        return [
            { tag: "synchronous", asynchronous: false },
            { tag: "background", asynchronous: true }
        ]
    }

    // A missing name is reported and left out; the amounts end full.
    function test_compressFiles(data) {
        verify(root.makePath("src/sub"))
        verify(root.writeTextFile("src/notes.txt", "notes"))
        verify(root.writeTextFile("src/sub/more.txt", "more"))
        var archive = createArchive(root.filePath("packed.zip"))
        var spies = {}
        for (var name of ["compressProgress", "compressError", "compressCompleted", "compressCanceled"])
            spies[name] = createTemporaryObject(signalSpyComponent, testCase, { target: archive, signalName: name })
        archive.asynchronous = data.asynchronous
        verify(archive.compressFiles(root.filePath("src"), ["notes.txt", "missing.txt", "sub/more.txt"]))
        compare(archive.busy, data.asynchronous)
        tryCompare(archive, "busy", false)
        compare(spies.compressCompleted.count, 1)
        compare(spies.compressCanceled.count, 0)
        compare(spies.compressError.count, 1)
        compare(spies.compressError.signalArguments[0][0], "missing.txt")
        compare(spies.compressError.signalArguments[0][1], ZipArchive.ErrNo)
        var last = spies.compressProgress.signalArguments[spies.compressProgress.count - 1]
        compare([last[0], last[1]], ["sub/more.txt", 100])
        compare([archive.processedEntries, archive.totalEntries], [3, 3])
        compare([archive.processedBytes, archive.totalBytes], [9, 9])
        compare(archive.fileNames, ["notes.txt", "sub/more.txt"])
        archive.asynchronous = false
        verify(archive.extractAll(root.filePath("out")))
        compare(root.readTextFile("out/sub/more.txt"), "more")
        archive.destroy()
    }

    // Signals of a background run reach QML handlers on the QML thread.
    function test_backgroundExtraction() {
        var archive = createArchive(basicFixture.filePath)
        var canceledSpy = createTemporaryObject(signalSpyComponent, testCase,
                                                { target: archive, signalName: "extractCanceled" })
        archive.asynchronous = true
        verify(archive.extractAll(root.filePath("out")))
        verify(archive.busy)
        compare(archive.fileNames.length, 4, "reading while the worker extracts")
        tryCompare(archive, "busy", false)
        compare(completedSpy.count, 1)
        compare(canceledSpy.count, 0)
        compare(errorSpy.count, 0)
        compare(progressSpy.signalArguments[progressSpy.count - 1][2], 100)
        compare(root.fileInfo("out/a/b.txt").size, "10000")
        archive.destroy()
    }

    Timer {
        id: destroyer
        interval: 10
        property var victim: null
        onTriggered: victim.destroy()
    }

    function test_destroyedByAProgressHandler_data() {
        return [
            { tag: "synchronous", asynchronous: false },
            { tag: "background", asynchronous: true }
        ]
    }

    // A handler that runs an event loop lets the deferred deletion of the
    // archive happen in the middle of the extraction. Under AddressSanitizer
    // any use of the destroyed object after that is reported.
    function test_destroyedByAProgressHandler(data) {
        var archive = createArchive(basicFixture.filePath)
        archive.asynchronous = data.asynchronous
        var handled = 0
        archive.extractProgress.connect(function() {
            if (handled++ > 0)
                return
            destroyer.victim = archive
            destroyer.start()
            System.wait(100)
        })
        compare(archive.extractAll(root.filePath("out")), data.asynchronous,
                "a synchronous run ends with its object, a background one had started")
        tryVerify(function() { return handled > 0 && !destroyer.running })
        wait(50)
        if (!data.asynchronous)
            verify(!root.fileExists("out/c.txt"), "the run stopped with its object")
    }

    Component {
        id: signalSpyComponent
        SignalSpy {}
    }
}
