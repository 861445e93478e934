import QtQml 2.15
import Quil.MaporaExtras 1.1

QtObject {
    property FileFolder folder: FileFolder { path: "$TEMP" }
    Component.onCompleted: {
        console.log(folder.exists && System.resolvedPath("~/x").length > 2
                    ? "installed module works" : "installed module is broken")
        Qt.quit()
    }
}
