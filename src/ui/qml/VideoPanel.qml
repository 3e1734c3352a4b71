import QtQuick
import QtQuick.Controls.Basic
import Look
import Wugg.Ui

// A demonstration video, 500 wide, over a spinner that shows until its first
// frame covers it, with rounded corners.
Item {
    id: panel

    required property string videoFileName
    required property bool darkAppearance

    objectName: "videoPanel"
    implicitWidth: 500

    // The standard indicator is dark in the light appearance and light in
    // the dark one; here it is inverted in the light appearance, so it shows
    // light on the window's dark background either way.
    readonly property bool spinnerInverted: !darkAppearance
    readonly property color standardSpinnerColor: darkAppearance ? "#ffffff" : "#000000"
    // Nothing turns in a hidden window: it would keep the program busy.
    readonly property bool onScreen: Window.visibility !== Window.Hidden && Window.visibility !== Window.Minimized

    BusyIndicator {
        objectName: "videoSpinner"
        anchors.centerIn: parent
        running: panel.onScreen
        padding: 0
        contentItem: Spinner {
            objectName: "videoSpinnerWheel"
            implicitWidth: 32
            implicitHeight: 32
            color: panel.spinnerInverted ? Qt.rgba(1 - panel.standardSpinnerColor.r, 1 - panel.standardSpinnerColor.g,
                                                   1 - panel.standardSpinnerColor.b, 1)
                                         : panel.standardSpinnerColor
            running: panel.onScreen
        }
    }

    VideoPlayerView {
        objectName: "videoPlayer"
        anchors.fill: parent
        videoFileName: panel.videoFileName
    }

    // The corners are cut by a frame in the page's colour: the software
    // renderer has no masks.
    Rectangle {
        anchors.fill: parent
        anchors.margins: -6
        radius: 13 + 6
        color: "transparent"
        border.width: 6
        border.color: Colors.primaryBackground
    }
}
