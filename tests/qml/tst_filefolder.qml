import QtQuick 2.15
import QtTest 1.2
import Quil.MaporaExtras 1.1

TestCase {
    id: testCase
    name: "FileFolder"

    property var root: null

    FileFolder { id: scratch }

    Component {
        id: folderComponent
        FileFolder {}
    }

    SignalSpy { id: pathSpy; signalName: "pathChanged" }
    SignalSpy { id: existsSpy; signalName: "existsChanged" }

    // A fresh tree for every test:
    //   b.txt  A.txt  .hidden  data.json  sub/c.txt  sub/deeper/d.txt  empty/
    function init() {
        root = scratch.folder("maporaextras-folder-" + Date.now() + "-" + Math.floor(Math.random() * 1e6))
        verify(root.makeFolder())
        verify(root.writeTextFile("b.txt", "b"))
        verify(root.writeTextFile("A.txt", "a"))
        verify(root.writeTextFile(".hidden", "h"))
        verify(root.writeTextFile("data.json", "{}"))
        verify(root.makePath("sub/deeper"))
        verify(root.makePath("empty"))
        verify(root.writeTextFile("sub/c.txt", "c"))
        verify(root.writeTextFile("sub/deeper/d.txt", "d"))
    }

    function cleanup() {
        verify(root.removeFolder())
        root = null
    }

    function createFolder(path) {
        var folder = folderComponent.createObject(testCase, path === undefined ? {} : { path: path })
        pathSpy.clear(); existsSpy.clear()
        pathSpy.target = folder; existsSpy.target = folder
        return folder
    }

    FileInfo { id: temporary; filePath: "$TEMP" }

    function test_defaultsToTemporaryFolder() {
        var folder = createFolder()
        compare(folder.path, temporary.filePath)
        verify(folder.exists)
        folder.destroy()
    }

    function test_pathAssignment() {
        var folder = createFolder(root.path)
        folder.path = root.path
        compare(pathSpy.count, 0, "same absolute path emits nothing")
        folder.path = root.path + "/missing"
        compare(pathSpy.count, 1)
        compare(existsSpy.count, 1, "existsChanged follows pathChanged")
        verify(!folder.exists)
        folder.url = "file://" + root.path + "/sub"
        compare(folder.path, root.path + "/sub")
        compare(folder.folderName, "sub")
        compare(pathSpy.count, 2)
        folder.destroy()
    }

    function test_pathVariables() {
        var folder = createFolder("$HOME/data")
        verify(folder.path.indexOf("$") < 0, "the variable is resolved: " + folder.path)
        compare(folder.folderName, "data")
        var tilde = createFolder("~")
        compare(tilde.path, folder.path.substring(0, folder.path.length - 5))
        folder.destroy(); tilde.destroy()
    }

    // The engine resolves a text given to a url property against this
    // file's folder before FileFolder sees it.
    FileFolder { id: variableUrl; url: "$HOME/dd" }
    FileFolder { id: tildeUrl; url: "~" }
    // A relative url names a folder relative to this document.
    FileFolder { id: upwardsUrl; url: "../up" }

    function test_urlTakesPathVariables_data() {
        return [
            { tag: "binding of $HOME/dd", folder: variableUrl, text: "$HOME/dd" },
            { tag: "binding of ~", folder: tildeUrl, text: "~" },
            { tag: "assignment of ~/dd", folder: null, text: "~/dd" },
            { tag: "assignment of $TEMP", folder: null, text: "$TEMP" }
        ]
    }

    function test_urlTakesPathVariables(data) {
        var byPath = createFolder(data.text)
        var byUrl = data.folder
        if (byUrl === null) {
            byUrl = createFolder()
            byUrl.url = data.text
        }
        compare(byUrl.path, byPath.path)
        if (data.folder === null)
            byUrl.destroy()
        byPath.destroy()
    }

    function test_relativeUrlIsResolvedAgainstTheDocument_data() {
        return [
            { tag: "binding of ../up", folder: upwardsUrl, text: "../up" },
            { tag: "assignment of ../up", folder: null, text: "../up" },
            { tag: "assignment of a name", folder: null, text: "down" }
        ]
    }

    function test_relativeUrlIsResolvedAgainstTheDocument(data) {
        var folder = data.folder
        if (folder === null) {
            folder = createFolder()
            folder.url = data.text
        }
        compare(folder.path, String(Qt.resolvedUrl(data.text)).replace(/^file:\/\//, ""))
        if (data.folder === null)
            folder.destroy()
    }

    function test_navigation() {
        var folder = createFolder(root.path)
        verify(!folder.cd("nothing-here"))
        compare(folder.path, root.path)
        compare(pathSpy.count, 0)
        verify(folder.cd("sub"))
        compare(folder.folderName, "sub")
        verify(folder.cdUp())
        compare(folder.path, root.path)
        compare(pathSpy.count, 2)
        folder.destroy()
    }

    function test_listing_data() {
        return [
            { tag: "files", files: true, filter: undefined, sub: false, expected: ["A.txt", "b.txt", "data.json"] },
            { tag: "files with star and subfolders", files: true, filter: "*", sub: true,
              expected: ["A.txt", "b.txt", "data.json", "sub/c.txt", "sub/deeper/d.txt"] },
            { tag: "folders", files: false, filter: undefined, sub: false, expected: ["empty", "sub"] },
            { tag: "folders recursive", files: false, filter: "*", sub: true, expected: ["empty", "sub", "sub/deeper"] },
            { tag: "pattern ignores case", files: true, filter: "*.TXT", sub: false, expected: ["A.txt", "b.txt"] },
            { tag: "pattern applies to folders too", files: true, filter: "*.txt", sub: true, expected: ["A.txt", "b.txt"] },
            { tag: "list of patterns", files: true, filter: ["*.txt", "*.json"], sub: false,
              expected: ["A.txt", "b.txt", "data.json"] },
            { tag: "single text is one pattern", files: true, filter: "*.txt;*.json", sub: false, expected: [] },
            { tag: "empty list lists everything", files: true, filter: [], sub: false,
              expected: ["A.txt", "b.txt", "data.json"] }
        ]
    }

    function test_listing(data) {
        var result
        if (data.filter === undefined)
            result = data.files ? root.fileNames() : root.folderNames()
        else if (data.files)
            result = root.fileNames(data.filter, data.sub)
        else
            result = root.folderNames(data.filter, data.sub)
        compare(result, data.expected)
    }

    function test_listingOfMissingFolder() {
        var missing = root.folder("missing")
        compare(missing.fileNames(), [])
        compare(missing.folderNames("*", true), [])
    }

    function test_makeAndRemoveFolder() {
        var folder = createFolder(root.path + "/x/y/z")
        verify(!folder.exists)
        verify(folder.makeFolder())
        verify(folder.exists)
        compare(existsSpy.count, 1)
        verify(folder.makeFolder())
        compare(existsSpy.count, 1, "an existing folder emits nothing")
        verify(folder.removeFolder())
        verify(!folder.exists)
        compare(existsSpy.count, 1, "removal emits nothing")
        verify(folder.removeFolder(), "a missing folder counts as removed")
        folder.destroy()
    }

    function test_removeSubfolder() {
        verify(!root.removeFolder("sub"), "non-empty folder without recursive")
        verify(root.fileExists("sub"))
        verify(root.removeFolder("empty"))
        verify(!root.fileExists("empty"))
        verify(root.removeFolder("nothing"))
        verify(root.removeFolder(root.fileUrl("sub").toString(), true), "a file URL names the subfolder")
        verify(!root.fileExists("sub"))
    }

    function test_makeAndRemovePath() {
        var inner = root.folder("p")
        verify(inner.makePath("a/b"))
        verify(inner.fileExists("a/b"))
        verify(inner.removePath("a/b"))
        verify(!inner.exists, "the emptied folder itself goes too")
        verify(root.exists)
    }

    function test_pathsAndUrls() {
        compare(root.filePath("a.txt"), root.path + "/a.txt")
        compare(root.filePath("/etc/x"), "/etc/x")
        compare(root.relativeFilePath(root.path + "/sub/a.txt"), "sub/a.txt")
        compare(root.fileUrl("a.txt").toString(), "file://" + root.path + "/a.txt")
        var resource = root.folder(":/img")
        compare(resource.fileUrl("a.txt").toString(), "qrc:/img/a.txt")
        verify(root.fileExists("A.txt"))
        verify(root.fileExists(root.fileUrl("A.txt").toString()))
        verify(root.fileExists("sub"))
        verify(!root.fileExists("nothing"))
    }

    function test_childObjectsAreNew() {
        var first = root.folder("$HOME")
        var second = root.folder("$HOME")
        verify(first !== second)
        compare(first.path, root.path + "/$HOME", "names are joined, not resolved")
        var info = root.fileInfo("A.txt")
        verify(info.exists)
        compare(info.fileName, "A.txt")
        first.destroy()
        verify(root.exists)
    }

    function test_readModes_data() {
        return [
            { tag: "bytes", options: undefined, expected: "abc" },
            { tag: "base64", options: { encode: "base64" }, expected: "YWJj" },
            { tag: "hex in capitals", options: { encode: "HEX" }, expected: "616263" },
            { tag: "unknown option", options: { encode: "rot13" }, expected: "abc" }
        ]
    }

    function test_readModes(data) {
        verify(root.writeFile("abc.bin", "abc"))
        var content = data.options === undefined ? root.readFile("abc.bin") : root.readFile("abc.bin", data.options)
        compare(content.byteLength, data.expected.length)
        var text = ""
        var view = new Uint8Array(content)
        for (var i = 0; i < view.length; ++i)
            text += String.fromCharCode(view[i])
        compare(text, data.expected)
        var missing = data.options === undefined ? root.readFile("none") : root.readFile("none", data.options)
        compare(missing.byteLength, 0)
        verify(root.writeFile("empty.bin", ""))
        var empty = data.options === undefined ? root.readFile("empty.bin") : root.readFile("empty.bin", data.options)
        compare(empty.byteLength, 0, "an empty file is an empty buffer")
    }

    function test_writeModes_data() {
        return [
            { tag: "base64 mixed case", content: "YWJj", options: { decode: "BaSe64" }, expected: "abc" },
            { tag: "hex", content: "616263", options: { decode: "hex" }, expected: "abc" },
            { tag: "plain text", content: "YWJj", options: {}, expected: "YWJj" },
            { tag: "number", content: 42, options: {}, expected: "42" }
        ]
    }

    function test_writeModes(data) {
        verify(root.writeTextFile("out.bin", "previous content that is longer"))
        verify(root.writeFile("out.bin", data.content, data.options))
        compare(root.readTextFile("out.bin"), data.expected)
    }

    function test_writeBinaryArrayBuffer() {
        var buffer = new ArrayBuffer(4)
        var view = new Uint8Array(buffer)
        view[0] = 0; view[1] = 255; view[2] = 10; view[3] = 128
        verify(root.writeFile("raw.bin", buffer))
        compare(String(root.readFile("raw.bin", { encode: "hex" })), "00ff0a80")
    }

    function test_writeIntoMissingFolderFails() {
        verify(!root.writeFile("nofolder/x.txt", "x"))
        verify(!root.writeTextFile("nofolder/x.txt", "x"))
        verify(!root.fileExists("nofolder"))
    }

    function test_textRoundTrip() {
        var text = "Grüße, Δ, 日本語, 🙂\nline two"
        verify(root.writeTextFile("text.txt", text))
        compare(root.readTextFile("text.txt"), text)
        compare(root.readTextFile("missing.txt"), "")
    }

    function test_jsonRoundTrip() {
        var json = { name: "x", count: 3, ratio: 0.5, on: true, list: [1, "two"], nested: { k: "v" } }
        verify(root.writeJsonFile("c.json", json))
        compare(root.readJsonFile("c.json"), json)
        compare(root.readJsonFile("missing.json"), {})
        verify(root.writeTextFile("bad.json", "{bad"))
        compare(root.readJsonFile("bad.json"), {})
    }

    function test_copyFile() {
        verify(root.copyFile("A.txt", root.filePath("copy.txt")))
        compare(root.readTextFile("copy.txt"), "a")
        verify(!root.copyFile("b.txt", root.filePath("copy.txt")), "an existing target is never overwritten")
        compare(root.readTextFile("copy.txt"), "a")
        verify(!root.copyFile("b.txt", root.filePath("sub")), "a folder target names the new file")
        verify(!root.copyFile("nothing.txt", root.filePath("x.txt")))
        verify(root.copyFile("A.txt", root.fileUrl("viaurl.txt").toString()), "a file URL target")
        verify(root.fileExists("viaurl.txt"))
    }

    function test_copyTree() {
        verify(root.copyFile("sub", root.filePath("copies/one")))
        var copy = root.folder("copies/one")
        compare(copy.fileNames("*", true), ["c.txt", "deeper/d.txt"])
        verify(root.copyFile(".", root.filePath("../" + root.folderName + "-copy")), "a whole tree with hidden files")
        var whole = root.folder("../" + root.folderName + "-copy")
        verify(whole.fileExists(".hidden"))
        verify(whole.fileExists("empty"), "empty folders are recreated")
        verify(whole.removeFolder())
    }

    function test_copyTreeStopsAtExistingFile() {
        verify(root.makePath("target"))
        verify(root.writeTextFile("target/c.txt", "old"))
        verify(!root.copyFile("sub", root.filePath("target")))
        compare(root.readTextFile("target/c.txt"), "old")
    }

    SignalSpy { id: completedSpy; signalName: "copyCompleted" }
    SignalSpy { id: progressSpy; signalName: "copyProgress" }

    function test_backgroundCopy_data() {
        return [
            { tag: "a tree", target: "copies/sub", success: true,
              after: ["c.txt", "deeper/d.txt"] },
            { tag: "stopped by an existing file, taken back", target: "target", success: false,
              after: ["c.txt"] }
        ]
    }

    function test_backgroundCopy(data) {
        verify(root.makePath("target"))
        verify(root.writeTextFile("target/c.txt", "old"))
        var folder = createFolder(root.path)
        folder.asynchronous = true
        completedSpy.clear(); progressSpy.clear()
        completedSpy.target = folder; progressSpy.target = folder
        verify(folder.copyFile("sub", root.filePath(data.target)), "the run started")
        verify(folder.busy)
        completedSpy.wait(20000)
        wait(20)
        compare(completedSpy.count, 1)
        compare(completedSpy.signalArguments[0][0], data.success)
        verify(!folder.busy)
        compare(progressSpy.signalArguments[0][1], 0)
        compare(progressSpy.signalArguments[progressSpy.count - 1][1] === 100, data.success)
        compare(folder.processedBytes === folder.totalBytes, data.success)
        compare(root.folder(data.target).fileNames("*", true), data.after)
        compare(root.readTextFile("target/c.txt"), "old")
        folder.destroy()
    }

    function test_copyIntoOwnSubtreeIsRefused() {
        verify(!root.copyFile("sub", root.filePath("sub/inner/copy")))
        verify(!root.fileExists("sub/inner"), "nothing was created")
        verify(!root.copyFile("sub", root.filePath("sub")))
    }

    function test_renameAndRemove() {
        verify(root.renameFile("A.txt", "renamed.txt"))
        verify(!root.fileExists("A.txt"))
        verify(!root.renameFile("b.txt", "renamed.txt"), "onto an existing name")
        verify(root.renameFile("b.txt", "sub/moved.txt"), "into another folder")
        compare(root.folder("sub").fileNames(), ["c.txt", "moved.txt"])
        verify(!root.removeFile("sub"), "folders are not files")
        verify(root.removeFile("renamed.txt"))
        verify(!root.removeFile("renamed.txt"))
    }

    function test_fileOperationsEmitNothing() {
        var folder = createFolder(root.path)
        verify(folder.writeTextFile("n.txt", "n"))
        verify(folder.removeFile("n.txt"))
        compare(pathSpy.count, 0)
        compare(existsSpy.count, 0)
        folder.destroy()
    }

    function test_settingsFile() {
        var first = root.settingsFile()
        var second = root.settingsFile("")
        verify(first !== second)
        compare(first.path, root.path + "/settings.ini")
        first.setValue("answer", 42)
        first.synchronize()
        verify(root.fileExists("settings.ini"))
        compare(second.numberValue("answer"), 42)
        compare(root.settingsFile("other.ini").path, root.path + "/other.ini")
    }
}
