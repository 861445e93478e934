import QtQuick 2.15
import QtTest 1.2

TestCase {
    name: "Module"

    function test_importAtVersion_1_1() {
        var object = Qt.createQmlObject("import QtQml 2.15; import Quil.MaporaExtras 1.1; QtObject {}",
                                        this, "import_1_1")
        verify(object !== null, "the module imports at version 1.1")
        object.destroy()
    }

    function test_unknownVersionIsRejected() {
        var failed = false
        try {
            Qt.createQmlObject("import QtQml 2.15; import Quil.MaporaExtras 2.0; QtObject {}",
                               this, "import_2_0")
        } catch (e) {
            failed = true
        }
        verify(failed, "there is no version 2.0 of the module")
    }
}
