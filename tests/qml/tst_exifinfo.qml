import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "ExifInfo"

    property var root: null

    FileFolder { id: scratch }
    // The camera files of tests/data (or the folder CMake was given); CTest sets the variable.
    FileInfo { id: corpus; filePath: "$MAPORA_TEST_CORPUS/exif" }

    Component {
        id: exifComponent
        ExifInfo {}
    }

    SignalSpy { id: exifSpy; signalName: "exifChanged" }
    SignalSpy { id: pathSpy; signalName: "filePathChanged" }
    SignalSpy { id: permissionsSpy; signalName: "permissionsChanged" }

    function init() {
        root = scratch.folder("maporaextras-exif-" + Date.now() + "-" + Math.floor(Math.random() * 1e6))
        verify(root.makeFolder())
    }

    function cleanup() {
        verify(root.removeFolder())
    }

    function createInfo() {
        var info = exifComponent.createObject(testCase)
        exifSpy.clear(); pathSpy.clear()
        exifSpy.target = info; pathSpy.target = info
        return info
    }

    // Little-endian TIFF blocks, laid out by hand: header, Exif directory,
    // GPS directory, then IFD0 with the pointers to both.
    function u16(v) { return [v & 0xff, (v >>> 8) & 0xff] }
    function u32(v) { return [v & 0xff, (v >>> 8) & 0xff, (v >>> 16) & 0xff, (v >>> 24) & 0xff] }
    function ascii(tag, text) {
        var data = []
        for (var i = 0; i < text.length; ++i)
            data.push(text.charCodeAt(i))
        data.push(0)
        return { tag: tag, type: 2, count: text.length + 1, data: data }
    }
    function shorts(tag, values) {
        var data = []
        values.forEach(function(v) { data = data.concat(u16(v)) })
        return { tag: tag, type: 3, count: values.length, data: data }
    }
    function longs(tag, values, type) {
        var data = []
        values.forEach(function(v) { data = data.concat(u32(v)) })
        return { tag: tag, type: type || 4, count: values.length, data: data }
    }
    function rationals(tag, parts, type) {
        var entry = longs(tag, parts, type || 5)
        entry.count = parts.length / 2
        return entry
    }
    function raw(tag, type, bytes) { return { tag: tag, type: type, count: bytes.length, data: bytes } }

    function directorySize(entries) {
        var size = 2 + 12 * entries.length
        entries.forEach(function(e) { if (e.data.length > 4) size += e.data.length })
        return size
    }
    function directory(start, entries) {
        var head = u16(entries.length), data = []
        var dataAt = start + 2 + 12 * entries.length
        entries.forEach(function(e) {
            head = head.concat(u16(e.tag), u16(e.type), u32(e.count))
            if (e.data.length > 4) {
                head = head.concat(u32(dataAt + data.length))
                data = data.concat(e.data)
            } else {
                head = head.concat(e.data, [0, 0, 0, 0].slice(e.data.length))
            }
        })
        return head.concat(data)
    }
    function writeJpeg(name, image, exif, gps) {
        var exifAt = 8, gpsAt = exifAt + directorySize(exif)
        var imageAt = gpsAt + (gps.length > 0 ? directorySize(gps) : 0)
        var ifd0 = image.concat([longs(0x8769, [exifAt])])
        if (gps.length > 0)
            ifd0.push(longs(0x8825, [gpsAt]))
        var block = [0x49, 0x49, 42, 0].concat(u32(imageAt), directory(exifAt, exif),
                                               gps.length > 0 ? directory(gpsAt, gps) : [], directory(imageAt, ifd0))
        var length = block.length + 8
        var bytes = [0xff, 0xd8, 0xff, 0xe1, length >> 8, length & 0xff, 0x45, 0x78, 0x69, 0x66, 0, 0]
                .concat(block, [0xff, 0xd9])
        var hex = ""
        bytes.forEach(function(b) { hex += (b < 16 ? "0" : "") + b.toString(16) })
        verify(root.writeFile(name, hex, { decode: "hex" }))
        return root.filePath(name)
    }
    function gpsFile(name, gps) { return writeJpeg(name, [], [], gps) }

    function test_newObjectIsEmpty() {
        var info = createInfo()
        verify(!info.isExifValid)
        compare(info.imageTags, [])
        compare(info.extendedTags, [])
        compare(info.gpsTags, [])
        verify(isNaN(info.gpsLatitude) && isNaN(info.gpsLongitude) && isNaN(info.gpsAltitude))
        compare(info.imageValue(271), undefined)
        info.destroy()
    }

    function test_samePathTwiceEmitsNothing() {
        var path = writeJpeg("a.jpg", [ascii(271, "abc")], [], [])
        var info = createInfo()
        info.filePath = path
        info.filePath = path
        compare(pathSpy.count, 1)
        compare(exifSpy.count, 1)
        verify(info.isExifValid)
        info.destroy()
    }

    function test_tagListsAndConvertedValues() {
        var path = writeJpeg("values.jpg",
            [ascii(271, "abc"), ascii(0x8298, ""), shorts(274, [6]), shorts(258, [8, 8, 8]),
             rationals(282, [1, 0]), rationals(318, [313, 1000, 329, 1000]), raw(0xc000, 1, [7]),
             longs(0xc001, [4000000000]), longs(0xc002, [-5], 9), rationals(0xc003, [-1, 4], 10),
             raw(0xc004, 7, [1, 2, 3, 4]), raw(0xc005, 7, [9])],
            [raw(0x9000, 7, [0x30, 0x32, 0x33, 0x30]), longs(0xa005, [8])],
            [ascii(1, "N"), rationals(2, [52, 1, 30, 1, 0, 1])])
        var info = createInfo()
        info.filePath = path
        verify(info.isExifValid)
        compare(info.imageTags, [258, 271, 274, 282, 318, 0x8298, 34665, 34853, 0xc000, 0xc001, 0xc002, 0xc003,
                                 0xc004, 0xc005])
        compare(info.extendedTags, [0x9000], "the interoperability pointer is dropped")
        compare(info.gpsTags, [1, 2])

        compare(info.imageValue(271), ["abc"], "non-empty text is a one-element list")
        compare(info.imageValue(0x8298), "", "empty text is the text itself")
        compare(info.imageValue(274), 6)
        compare(info.imageValue(258), [8, 8, 8])
        compare(info.imageValue(282), Infinity)
        compare(info.imageValue(318).length, 2)
        fuzzyCompare(info.imageValue(318)[0], 0.313, 1e-12)
        compare(info.imageValue(0xc000), 7)
        compare(info.imageValue(0xc001), 4000000000)
        compare(info.imageValue(0xc002), -5)
        compare(info.imageValue(0xc003), -0.25)
        var undefinedList = info.imageValue(0xc004)
        compare(undefinedList.length, 1)
        verify(undefinedList[0] instanceof ArrayBuffer, "UNDEFINED data arrives as an ArrayBuffer")
        compare(Array.from(new Uint8Array(undefinedList[0])), [1, 2, 3, 4])
        verify(info.imageValue(0xc005) instanceof ArrayBuffer)
        compare(new Uint8Array(info.imageValue(0xc005))[0], 9)
        compare(info.extendedValue(0x9000).length, 1)
        compare(info.gpsValue(2), [52, 30, 0])
        compare(info.gpsValue(3), undefined)
        compare(info.extendedValue(0xa005), undefined)
        info.destroy()
    }

    // Tag numbers are 16 bits: anything outside 0..65535 is absent, never a
    // number that happens to share its low bits with a present tag.
    function test_tagOutside16Bits_data() {
        return [
            { tag: "image tag in range", table: "image", number: 271, present: true },
            { tag: "image tag plus 65536", table: "image", number: 65536 + 271, present: false },
            { tag: "image tag minus 65536", table: "image", number: 271 - 65536, present: false },
            { tag: "extended tag plus 65536", table: "extended", number: 65536 + 0x9000, present: false },
            { tag: "gps tag in range", table: "gps", number: 2, present: true },
            { tag: "gps tag minus 65536", table: "gps", number: 2 - 65536, present: false }
        ]
    }

    function test_tagOutside16Bits(data) {
        var info = createInfo()
        info.filePath = writeJpeg("wide.jpg", [ascii(271, "abc")], [raw(0x9000, 7, [0x30, 0x32, 0x33, 0x30])],
                                  [rationals(2, [52, 1, 30, 1, 0, 1])])
        verify(info.isExifValid)
        var value = data.table === "image" ? info.imageValue(data.number)
                  : data.table === "extended" ? info.extendedValue(data.number) : info.gpsValue(data.number)
        compare(value !== undefined, data.present, "value " + value)
        info.destroy()
    }

    function test_gpsPosition_data() {
        var lat = rationals(2, [52, 1, 30, 1, 0, 1]), lon = rationals(4, [13, 1, 24, 1, 36, 1])
        return [
            { tag: "north", gps: [ascii(1, "N"), lat], latitude: 52.5, longitude: NaN },
            { tag: "south", gps: [ascii(1, "S"), lat], latitude: -52.5, longitude: NaN },
            { tag: "no reference", gps: [lat], latitude: 52.5, longitude: NaN },
            { tag: "lower-case s is not south", gps: [ascii(1, "s"), lat], latitude: 52.5, longitude: NaN },
            { tag: "west", gps: [ascii(3, "W"), lon], latitude: NaN, longitude: -13.41 },
            { tag: "east", gps: [ascii(3, "E"), lon], latitude: NaN, longitude: 13.41 },
            { tag: "two rationals", gps: [rationals(2, [52, 1, 30, 1])], latitude: NaN, longitude: NaN },
            { tag: "shorts", gps: [shorts(2, [52, 30, 0]), shorts(4, [13, 24, 36])], latitude: NaN, longitude: NaN },
            { tag: "srationals", gps: [rationals(2, [52, 1, 30, 1, 0, 1], 10)], latitude: NaN, longitude: NaN }
        ]
    }

    function test_gpsPosition(data) {
        var info = createInfo()
        info.filePath = gpsFile("gps.jpg", data.gps)
        verify(info.isExifValid)
        if (isNaN(data.latitude))
            verify(isNaN(info.gpsLatitude), "latitude " + info.gpsLatitude)
        else
            fuzzyCompare(info.gpsLatitude, data.latitude, 1e-9)
        if (isNaN(data.longitude))
            verify(isNaN(info.gpsLongitude), "longitude " + info.gpsLongitude)
        else
            fuzzyCompare(info.gpsLongitude, data.longitude, 1e-9)
        info.destroy()
    }

    function test_gpsAltitude_data() {
        return [
            { tag: "below sea level stays positive", gps: [raw(5, 1, [1]), rationals(6, [5000, 10])], altitude: 500 },
            { tag: "short", gps: [shorts(6, [120])], altitude: 120 },
            { tag: "slong", gps: [longs(6, [-20], 9)], altitude: -20 },
            { tag: "two rationals", gps: [rationals(6, [1, 1, 2, 1])], altitude: NaN },
            { tag: "text", gps: [ascii(6, "500")], altitude: NaN },
            { tag: "absent", gps: [ascii(1, "N")], altitude: NaN }
        ]
    }

    function test_gpsAltitude(data) {
        var info = createInfo()
        info.filePath = gpsFile("alt.jpg", data.gps)
        if (isNaN(data.altitude))
            verify(isNaN(info.gpsAltitude), "altitude " + info.gpsAltitude)
        else
            compare(info.gpsAltitude, data.altitude)
        info.destroy()
    }

    // A url does what it does on FileInfo (the folder follows, permissionsChanged)
    // and reloads the EXIF data before filePathChanged, as a filePath does.
    function test_url_data() {
        return [
            { tag: "first url", from: "", to: "first.jpg", tags: [271, 34665], emits: 1 },
            { tag: "same url twice", from: "first.jpg", to: "first.jpg", tags: [271, 34665], emits: 0 },
            { tag: "file in another folder", from: "first.jpg", to: "sub/second.jpg", tags: [272, 34665], emits: 1 },
            { tag: "missing file", from: "first.jpg", to: "missing.jpg", tags: [], emits: 1 }
        ]
    }

    function test_url(data) {
        verify(root.folder("sub").makeFolder())
        writeJpeg("first.jpg", [ascii(271, "first")], [], [])
        writeJpeg("sub/second.jpg", [ascii(272, "second")], [], [])
        var info = createInfo()
        if (data.from !== "")
            info.url = root.fileUrl(data.from)
        var folder = info.folder
        var seen = null
        info.filePathChanged.connect(function() { seen = info.imageTags })
        exifSpy.clear(); pathSpy.clear()
        permissionsSpy.clear(); permissionsSpy.target = info

        info.url = root.fileUrl(data.to)
        compare(info.filePath, root.filePath(data.to))
        compare(info.imageTags, data.tags)
        compare(info.isExifValid, data.tags.length > 0)
        compare(pathSpy.count, data.emits, "filePathChanged")
        compare(exifSpy.count, data.emits, "exifChanged")
        compare(permissionsSpy.count, data.emits, "permissionsChanged")
        if (data.emits > 0)
            compare(seen, data.tags, "the tags are new when filePathChanged arrives")
        compare(info.folder, folder, "the same folder object")
        compare(folder.path, root.filePath(data.to).replace(/\/[^\/]*$/, ""), "the folder follows the file")
        info.destroy()
    }

    function test_notExif_data() {
        return [
            { tag: "folder", name: "", content: null },
            { tag: "missing file", name: "missing.jpg", content: null },
            { tag: "text file", name: "text.jpg", content: "not a jpeg" },
            { tag: "jpeg without exif", name: "plain.jpg", content: "ffd8ffdb0004aaaaffd9" }
        ]
    }

    function test_notExif(data) {
        if (data.content !== null)
            verify(root.writeFile(data.name, data.content, { decode: data.name === "plain.jpg" ? "hex" : "" }))
        var info = createInfo()
        info.filePath = data.name === "" ? root.path : root.filePath(data.name)
        verify(!info.isExifValid)
        compare(info.imageTags, [])
        verify(isNaN(info.gpsLatitude))
        compare(info.imageValue(271), undefined)
        info.destroy()
    }

    function test_cameraFileInTheSouth() {
        var info = createInfo()
        info.filePath = corpus.filePath + "/Kodak_CX7530.jpg"
        verify(info.exists, info.filePath + " is missing (MAPORA_TEST_CORPUS names the folder above exif/)")
        verify(info.isExifValid, info.filePath)
        verify(info.imageTags.indexOf(34853) >= 0)
        fuzzyCompare(info.gpsLatitude, -0.3713, 1e-6)
        compare(info.imageValue(274), 1)
        info.destroy()
    }
}
