import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Quil.MaporaExtras 1.1

// Facts from the System singleton; the online state follows the network live.
ToolBar {
    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        spacing: 16

        Label {
            text: (System.isOnline ? "\u25cf Online" : "\u25cb Offline")
            color: System.isOnline ? "seagreen" : "firebrick"
        }
        Label { text: "Display scale " + System.displayScaleFactor.toFixed(3) }
        Item { Layout.fillWidth: true }
        Switch {
            text: "Plugin logging"
            checked: System.loggingEnabled
            onToggled: System.loggingEnabled = checked
        }
    }
}
