import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "FileInfo"

    property var root: null

    FileFolder { id: scratch }
    FileInfo { id: empty }
    FileInfo { id: home; filePath: "~" }
    // A relative url names a file beside this document, as in any QML url.
    FileInfo { id: relativeUrl; url: "img.jpg" }

    Component {
        id: infoComponent
        FileInfo {}
    }

    SignalSpy { id: pathSpy; signalName: "filePathChanged" }
    SignalSpy { id: permissionsSpy; signalName: "permissionsChanged" }

    function init() {
        root = scratch.folder("maporaextras-info-" + Date.now() + "-" + Math.floor(Math.random() * 1e6))
        verify(root.makeFolder())
        var bytes = ""
        for (var i = 0; i < 1234; ++i)
            bytes += "x"
        verify(root.writeFile("a.tar.gz", bytes))
        verify(root.makePath("other"))
    }

    function cleanup() {
        verify(root.removeFolder())
    }

    function createInfo(path) {
        var info = infoComponent.createObject(testCase, path === undefined ? {} : { filePath: path })
        pathSpy.clear(); permissionsSpy.clear()
        pathSpy.target = info; permissionsSpy.target = info
        return info
    }

    function test_withoutPath() {
        compare(empty.filePath, "")
        verify(!empty.exists)
        compare(empty.size, "0")
        verify(!empty.isNativePath)
    }

    function test_names() {
        var info = createInfo(root.filePath("a.tar.gz"))
        verify(info.exists)
        verify(info.isFile)
        verify(!info.isFolder)
        compare(info.size, "1234")
        compare(info.fileName, "a.tar.gz")
        compare(info.baseName, "a")
        compare(info.suffix, "gz")
        compare(info.path, root.path)
        verify(info.lastModified.getTime() > 0)
        verify(info.created.getTime() > 0)
        verify(info.isReadable && info.isWritable && info.isNativePath && !info.isSymLink)
        compare(info.url.toString(), "file://" + root.path + "/a.tar.gz")
        var missing = createInfo(root.filePath("missing"))
        verify(!missing.exists)
        compare(missing.size, "0")
        info.destroy(); missing.destroy()
    }

    function test_pathVariablesAreResolved() {
        var info = createInfo("$HOME/notes.txt")
        compare(info.filePath, home.filePath + "/notes.txt")
        info.destroy()
    }

    function test_samePathEmitsOnce() {
        var info = createInfo()
        info.filePath = root.filePath("a.tar.gz")
        info.filePath = root.filePath("a.tar.gz")
        compare(pathSpy.count, 1)
        compare(permissionsSpy.count, 1)
        info.destroy()
    }

    function test_url() {
        var info = createInfo()
        info.url = root.fileUrl("a.tar.gz")
        compare(info.filePath, root.path + "/a.tar.gz")
        compare(pathSpy.count, 1)
        info.url = root.fileUrl("a.tar.gz")
        compare(pathSpy.count, 1, "the same URL emits nothing")
        var resource = createInfo(":/img/a.png")
        verify(!resource.isNativePath)
        compare(resource.url.toString(), "qrc:///img/a.png")
        info.destroy(); resource.destroy()
    }

    function test_relativeUrlIsResolvedAgainstTheDocument_data() {
        return [
            { tag: "binding of a name", info: relativeUrl, text: "img.jpg" },
            { tag: "assignment of a name", info: null, text: "img.jpg" },
            { tag: "assignment of a path upwards", info: null, text: "../up/img.jpg" },
            { tag: "assignment of $HOME", info: null, text: "$HOME/img.jpg" }
        ]
    }

    function test_relativeUrlIsResolvedAgainstTheDocument(data) {
        var info = data.info
        if (info === null) {
            info = createInfo()
            info.url = data.text
        }
        var expected = data.text.charAt(0) === "$" ? home.filePath + "/img.jpg"
                                                 : String(Qt.resolvedUrl(data.text)).replace(/^file:\/\//, "")
        compare(info.filePath, expected)
        if (data.info === null)
            info.destroy()
    }

    function test_cachedUntilRefresh() {
        verify(root.writeTextFile("later.txt", "abc"))
        var info = createInfo(root.filePath("later.txt"))
        compare(info.size, "3")
        verify(root.writeTextFile("later.txt", "abcdefghij"))
        compare(info.size, "3", "information is cached until refresh")
        info.refresh()
        compare(info.size, "10")
        compare(pathSpy.count, 1)
        compare(permissionsSpy.count, 0)
        info.destroy()
    }

    function test_folderFollowsTheFile() {
        var info = createInfo(root.filePath("a.tar.gz"))
        var folder = info.folder
        verify(folder === info.folder, "the same object on every read")
        compare(folder.path, root.path)
        var folderSpy = Qt.createQmlObject("import QtTest 1.2; SignalSpy { signalName: 'pathChanged' }", testCase)
        folderSpy.target = folder
        info.filePath = root.filePath("other/x.txt")
        compare(folder.path, root.path + "/other")
        compare(folderSpy.count, 1)
        folderSpy.destroy(); info.destroy()
    }

    function test_permissions() {
        var info = createInfo(root.filePath("a.tar.gz"))
        verify(info.setPermissions(FileInfo.ReadOwner | FileInfo.WriteOwner))
        compare(permissionsSpy.count, 1)
        compare(info.permissions & (FileInfo.ReadOwner | FileInfo.WriteOwner | FileInfo.ReadGroup | FileInfo.ReadOther),
                FileInfo.ReadOwner | FileInfo.WriteOwner)
        info.permissions = FileInfo.ReadOwner | FileInfo.WriteOwner | FileInfo.ReadOther
        compare(permissionsSpy.count, 2)
        verify((info.permissions & FileInfo.ReadOther) !== 0)
        var missing = createInfo(root.filePath("missing"))
        ignoreWarning(new RegExp("Unable to set permissions to"))
        verify(!missing.setPermissions(FileInfo.ReadOwner))
        compare(permissionsSpy.count, 0)
        info.destroy(); missing.destroy()
    }
}
