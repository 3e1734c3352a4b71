import QtQuick
import Wugg.Ui

// The keys stored for one of the program's shortcuts, on a small grey pill;
// an empty pill when the name has no keys.
Rectangle {
    id: badge

    required property string shortcutName

    radius: 4
    color: "#8e8e93"
    implicitWidth: label.implicitWidth + 8
    implicitHeight: label.implicitHeight + 8

    Text {
        id: label
        objectName: "badgeText"
        x: 4
        y: 4
        // Shown as the library writes it; a change in the settings shows at once.
        // (revision is read so that the binding follows it.)
        text: StoredShortcuts.revision >= 0 ? StoredShortcuts.description(badge.shortcutName) : ""
        textFormat: Text.PlainText
        font.pixelSize: 13
        color: "white"
    }
}
