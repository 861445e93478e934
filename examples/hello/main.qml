import QtQuick 2.15
import QtQuick.Window 2.15
import Quil.MaporaExtras 1.1

// The smallest program that uses the module: it imports it and reports that
// the plugin loaded. Offscreen it prints the report and quits.
Window {
    id: window
    width: 420
    height: 120
    visible: true
    title: "Quil.MaporaExtras"


    Text {
        anchors.centerIn: parent
        text: "Quil.MaporaExtras 1.1 is loaded"
    }

    Component.onCompleted: {
        console.log("Quil.MaporaExtras 1.1 imported; platform:", Qt.platform.pluginName)
        if (Qt.platform.pluginName === "offscreen")
            Qt.quit()
    }
}
