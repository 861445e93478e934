import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "Settings"

    property var root: null
    property var settings: null

    FileFolder { id: scratch }
    // Settings files as builds on either Qt major wrote them.
    FileFolder { id: writtenFiles; url: Qt.resolvedUrl("../data/settings") }
    SignalSpy { id: changedSpy; signalName: "valueChanged" }
    property url someUrl: "file:///x"

    function init() {
        root = scratch.folder("maporaextras-settings-" + Date.now() + "-" + Math.floor(Math.random() * 1e6))
        verify(root.makeFolder())
        settings = root.settingsFile()
        changedSpy.clear()
        changedSpy.target = settings
    }

    function cleanup() {
        verify(root.removeFolder())
    }

    function test_notCreatable() {
        var failed = false
        try {
            Qt.createQmlObject("import Quil.MaporaExtras 1.1; Settings {}", testCase)
        } catch (e) {
            failed = true
            verify(String(e.qmlErrors[0].message).indexOf("The Quil Mapora Extras type Settings is not creatable") >= 0,
                   e.qmlErrors[0].message)
        }
        verify(failed)
    }

    function test_defaults() {
        compare(settings.value("k"), undefined)
        compare(settings.value("k", 7), 7)
        compare(settings.boolValue("k"), false)
        compare(settings.boolValue("k", true), true)
        compare(settings.numberValue("k"), 0)
        compare(settings.numberValue("k", 2.5), 2.5)
        verify(!settings.contains("k"))
    }

    function test_storeAndSignal() {
        settings.setValue("k", 5)
        compare(changedSpy.count, 1)
        compare(changedSpy.signalArguments[0][0], "k")
        settings.setValue("k", 5)
        compare(changedSpy.count, 2, "every store emits, changed or not")
        compare(settings.numberValue("k"), 5)
        settings.setValue("k", 5, 5)
        verify(!settings.contains("k"), "storing the default removes the key")
        compare(changedSpy.count, 2)
    }

    function test_blankAndUndefinedRemove_data() {
        return [ { tag: "blank text", value: "   " }, { tag: "undefined", value: undefined } ]
    }

    function test_blankAndUndefinedRemove(data) {
        settings.setValue("k", "x")
        changedSpy.clear()
        settings.setValue("k", data.value)
        verify(!settings.contains("k"))
        compare(changedSpy.count, 0)
    }

    function test_typedValues() {
        settings.setValue("t", "False")
        compare(settings.boolValue("t", true), false)
        settings.setValue("t", "no")
        compare(settings.boolValue("t"), true)
        settings.setValue("n", "abc")
        compare(settings.numberValue("n", 3), 0)
        settings.setValue("list", ["a", "b"])
        compare(settings.value("list"), ["a", "b"])
        settings.remove("list")
        verify(!settings.contains("list"))
        compare(changedSpy.count, 4, "removal emits nothing")
    }

    function test_colours() {
        settings.setColorValue("c", "red")
        compare(settings.value("c"), "#ff0000")
        verify(Qt.colorEqual(settings.colorValue("c"), "red"))
        settings.setColorValue("c", Qt.rgba(1, 0, 0, 128 / 255))
        compare(settings.value("c"), "#80ff0000")
        compare(settings.colorValue("c").a, 128 / 255)
        settings.setValue("c", "not a colour")
        verify(!settings.colorValue("c", "blue").valid, "an unparsable colour is invalid, not the default")
    }

    function test_persistsToFile() {
        settings.setValue("persisted", "yes")
        settings.synchronize()
        compare(root.settingsFile().value("persisted"), "yes")
        verify(root.readTextFile("settings.ini").indexOf("persisted=yes") >= 0)
    }

    // A default of another type that converts to the same value counts as
    // the default: the key is removed, nothing is stored or signalled.
    function test_defaultComparedAcrossTypes_data() {
        return [
            { tag: "colour text against Qt.rgba", value: "#ff0000", defaultValue: Qt.rgba(1, 0, 0, 1) },
            { tag: "Qt.rgba against colour text", value: Qt.rgba(1, 0, 0, 1), defaultValue: "#ff0000" },
            { tag: "text against url", value: "file:///x", defaultValue: testCase.someUrl }
        ]
    }

    function test_defaultComparedAcrossTypes(data) {
        settings.setValue("k", "stored before")
        changedSpy.clear()
        settings.setValue("k", data.value, data.defaultValue)
        verify(!settings.contains("k"), "storing the default removes the key")
        compare(changedSpy.count, 0)
    }

    // Arrays and objects are stored as lists and maps and come back from
    // the file as arrays and objects.
    function test_listsAndMapsRoundTripThroughTheFile_data() {
        return [
            { tag: "array of texts", value: ["a", "b"] },
            { tag: "object", value: { n: 1, t: "x", l: [1, 2] } },
            { tag: "array of arrays", value: [[1, 2], ["x"]] }
        ]
    }

    function test_listsAndMapsRoundTripThroughTheFile(data) {
        settings.setValue("k", data.value)
        settings.synchronize()
        // A copy under another name is read from the file; the same name
        // would come from the process's cache of the open file.
        verify(root.writeFile("copy.ini", root.readFile("settings.ini")))
        var read = root.settingsFile("copy.ini").value("k")
        compare(Array.isArray(read), Array.isArray(data.value), "an array stays an array")
        compare(read, data.value)
    }

    function test_filesOfEitherMajorReadBack_data() {
        var object = { a: 1, b: "x", c: [1, 2] }
        var text = "\u00e9t\u00e9 \u4e2d"
        return [
            { tag: "Qt 5 array", file: "written-by-qt5.ini", key: "list", expected: [1, "a", true] },
            { tag: "Qt 5 object", file: "written-by-qt5.ini", key: "map", expected: object },
            { tag: "Qt 5 array of texts", file: "written-by-qt5.ini", key: "strs", expected: ["a", "b"] },
            { tag: "Qt 5 escaped text", file: "written-by-qt5.ini", key: "text", expected: text },
            { tag: "Qt 6 object", file: "written-by-qt6.ini", key: "map", expected: object },
            { tag: "Qt 6 array of texts", file: "written-by-qt6.ini", key: "strs", expected: ["a", "b"] },
            { tag: "Qt 6 UTF-8 text", file: "written-by-qt6.ini", key: "text", expected: text }
        ]
    }

    function test_filesOfEitherMajorReadBack(data) {
        // A copy: reading a file of Qt 5 script values may rewrite it.
        verify(writtenFiles.fileExists(data.file), writtenFiles.filePath(data.file))
        verify(root.writeFile(data.file, writtenFiles.readFile(data.file)))
        var read = root.settingsFile(data.file).value(data.key)
        compare(Array.isArray(read), Array.isArray(data.expected), "an array stays an array")
        compare(read, data.expected)
    }

    function test_nonAsciiTextIsWrittenAsUtf8() {
        settings.setValue("text", "\u00e9t\u00e9 \u4e2d")
        settings.synchronize()
        verify(root.readTextFile("settings.ini").indexOf("text=\u00e9t\u00e9 \u4e2d") >= 0,
               root.readTextFile("settings.ini"))
    }
}
