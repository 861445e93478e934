import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "Settings"

    property var root: null
    property var settings: null

    FileFolder { id: scratch }
    SignalSpy { id: changedSpy; signalName: "valueChanged" }

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
}
