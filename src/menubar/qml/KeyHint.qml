import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A footer control: an optional hint and a key cap. Its key works anywhere
// in the window (a Shortcut of the view), so this only shows it and takes
// clicks.
AbstractButton {
    id: control

    property string hint
    property string glyph
    property real glyphSize: 13
    // A font that has the glyph, named: looking one up among all fonts
    // costs the first opening of the window tens of milliseconds.
    property string glyphFamily
    property real glyphPadding: 2
    property real glyphVerticalPadding: control.glyphPadding

    padding: 0
    focusPolicy: Qt.NoFocus
    Accessible.name: control.hint.length > 0 ? control.hint : control.glyph

    contentItem: RowLayout {
        spacing: 4

        Text {
            visible: control.hint.length > 0
            text: control.hint
            font.pixelSize: 11
            font.weight: Font.Light
            color: Qt.rgba(1, 1, 1, 0.3)
        }

        Rectangle {
            objectName: "keyCap"
            radius: 4
            color: Qt.rgba(1, 1, 1, 0.2)
            implicitWidth: cap.implicitWidth + 2 * control.glyphPadding
            implicitHeight: cap.implicitHeight + 2 * control.glyphVerticalPadding
            clip: true

            Text {
                id: cap
                anchors.centerIn: parent
                text: control.glyph
                font.pixelSize: control.glyphSize
                font.family: control.glyphFamily.length > 0 ? control.glyphFamily : Qt.application.font.family
                color: "white"
            }
        }
    }
    background: null
}
