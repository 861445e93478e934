import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "System"

    SignalSpy { id: homeSpy; target: System; signalName: "userHomePathChanged" }
    SignalSpy { id: scaleSpy; target: System; signalName: "displayScaleFactorChanged" }
    SignalSpy { id: loggingSpy; target: System; signalName: "loggingEnabledChanged" }

    FileInfo { id: homeInfo; filePath: "~" }
    FileFolder { id: scratch }

    Timer { id: timer; interval: 10; property int fired: 0; onTriggered: fired++ }

    function init() {
        homeSpy.clear(); scaleSpy.clear(); loggingSpy.clear()
    }

    function test_isSingleton() {
        verify(System !== null)
        var failed = false
        try {
            Qt.createQmlObject("import Quil.MaporaExtras 1.1; System {}", testCase)
        } catch (e) {
            failed = true
        }
        verify(failed, "System cannot be declared as an element")
    }

    function test_pathVariables() {
        compare(System.resolvedPath("~/x"), homeInfo.filePath + "/x")
        compare(System.resolvedPath("plain/$HOME"), "plain/$HOME")
        System.setPathVariable("MAPORA_QML_VAR", "/srv/data")
        compare(System.pathVariable("MAPORA_QML_VAR"), "/srv/data")
        compare(System.resolvedPath("$MAPORA_QML_VAR/a.txt"), "/srv/data/a.txt")
        compare(System.resolvedPathUrl("$MAPORA_QML_VAR/a.txt"), "file:///srv/data/a.txt")
        System.setPathVariable("MAPORA_QML_VAR", "")
        compare(System.pathVariable("MAPORA_QML_VAR"), "")
    }

    function test_userHomePath() {
        var original = System.userHomePath
        compare(original, "file://" + homeInfo.filePath, "the default home path")
        compare(homeSpy.count, 0, "reading never emits")
        var elsewhere = scratch.folder("maporaextras-home-" + Date.now())
        System.userHomePath = elsewhere.url
        compare(homeSpy.count, 1)
        System.userHomePath = elsewhere.url
        compare(homeSpy.count, 1, "the same value emits nothing")
        compare(System.userHomeFolder.path, elsewhere.path)
        compare(System.resolvedPath("~/y"), elsewhere.path + "/y", "the home variable follows")
        System.userHomePath = original
        compare(homeSpy.count, 2)
    }

    function test_foldersAreNewObjects() {
        var first = System.temporaryFolder
        var second = System.temporaryFolder
        verify(first !== second)
        compare(first.path, second.path)
        verify(first.exists)
        verify(System.userHomeFolder !== System.userHomeFolder)
    }

    function test_settingsIsOneObject() {
        verify(System.settings !== null)
        verify(System.settings === System.settings)
        System.settings.setValue("systemTest", 1)
        compare(System.settings.numberValue("systemTest"), 1)
        System.settings.remove("systemTest")
    }

    function test_displayScaleFactor() {
        // The offscreen platform reports 100 dots per inch; the reference is 96.
        compare(System.displayScaleFactor, 100 / 96)
        System.displayScaleFactor = 2
        compare(System.displayScaleFactor, 2)
        System.displayScaleFactor = 2
        compare(scaleSpy.count, 2, "every assignment emits")
        System.displayScaleFactor = -1
        compare(System.displayScaleFactor, 100 / 96)
        compare(scaleSpy.count, 3)
    }

    function test_loggingEnabled() {
        verify(System.loggingEnabled)
        System.loggingEnabled = true
        compare(loggingSpy.count, 0, "the same value emits nothing")
        System.loggingEnabled = false
        compare(loggingSpy.count, 1)
        // With the family off, the File category's warnings are gone: this
        // failing call would otherwise log "Unable to set permissions to".
        var info = scratch.fileInfo("maporaextras-missing-" + Date.now())
        verify(!info.setPermissions(FileInfo.ReadOwner))
        System.loggingEnabled = true
        compare(loggingSpy.count, 2)
        ignoreWarning(new RegExp("Unable to set permissions to"))
        verify(!info.setPermissions(FileInfo.ReadOwner))
    }

    function test_isOnlineIsReadable() {
        verify(System.isOnline === true || System.isOnline === false)
    }

    function test_waitKeepsEventsFlowing() {
        System.wait(0)
        timer.fired = 0
        timer.start()
        System.wait(200)
        compare(timer.fired, 1, "a timer fires during the wait")
    }
}
