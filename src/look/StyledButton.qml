import QtQuick
import QtQuick.Controls.Basic

// What the three button styles share: a padded label on a rounded shape
// (radius 13) that takes a second fill while hovered, pressed or drawn
// disabled, shrinks a little while held down, and shows a small spinner over
// its label while `loading`. The styles only set the colours; use them:
//
//     PrimaryButtonStyle {
//         text: qsTr("Continue")
//         loading: model.loading     // spinner, same size
//         disabled: !model.canSend   // the look only...
//         enabled: model.canSend     // ...this one stops the clicks
//         onClicked: model.send()
//     }
//
// `disabled` is the look alone, so an owner decides separately whether the
// button takes clicks. A custom `label` (a Component) replaces the text; it
// should colour its text with `labelColor`.
Button {
    id: control

    property bool disabled: false
    property bool loading: false
    property Component label: defaultLabel

    // Set by each style.
    property color normalFill: "transparent"
    property color activeFill: "transparent"
    property color textColor: "#000000"
    property color disabledTextColor: "#8e8e93"
    // The label keeps its place while loading, drawn in this colour.
    property color loadingTextColor: "transparent"
    property bool outlined: false
    // The appearance in which the spinner takes the opposite tone: true for
    // the dark one, false for the light one.
    property bool spinnerInvertedInDark: false

    readonly property bool darkAppearance: control.palette.window.hslLightness < 0.5
    // Hover, press and the disabled look share one fill; they never add up.
    readonly property bool active: control.down || control.hovered || control.disabled
    readonly property color fillColor: active ? activeFill : normalFill
    readonly property color labelColor: loading ? loadingTextColor
                                                : disabled ? disabledTextColor : textColor
    // A light spinner in the dark appearance unless inverted there, and the
    // other way round in the light one.
    readonly property bool spinnerLight: darkAppearance !== (darkAppearance ? spinnerInvertedInDark
                                                                            : !spinnerInvertedInDark)

    // Whole pixels keep the edges and the outline crisp.
    implicitWidth: Math.ceil(implicitContentWidth) + leftPadding + rightPadding
    implicitHeight: Math.ceil(implicitContentHeight) + topPadding + bottomPadding

    topPadding: 13
    leftPadding: 16
    bottomPadding: 13
    rightPadding: 16
    hoverEnabled: true
    // A click leaves the keyboard focus where the user types; Tab still
    // reaches the button.
    focusPolicy: Qt.TabFocus
    font.pixelSize: 13
    font.weight: Font.Medium
    // Only the drawing shrinks: the hit area stays the full rectangle, so a
    // press at the very edge still clicks on release.
    readonly property real pressScale: control.down ? 0.98 : 1.0

    Accessible.name: control.text

    Component {
        id: defaultLabel
        Text {
            objectName: "labelText"
            text: control.text
            font: control.font
            color: control.labelColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            Accessible.ignored: true
        }
    }

    contentItem: Item {
        id: content
        objectName: "content"
        // About the button's centre, like the fill.
        transform: Scale {
            origin.x: control.width / 2 - content.x
            origin.y: control.height / 2 - content.y
            xScale: control.pressScale
            yScale: control.pressScale
        }
        implicitWidth: labelLoader.implicitWidth
        implicitHeight: labelLoader.implicitHeight

        Loader {
            id: labelLoader
            objectName: "label"
            anchors.centerIn: parent
            sourceComponent: control.label
        }

        BusyIndicator {
            objectName: "spinner"
            anchors.centerIn: parent
            visible: control.loading
            running: control.loading
            padding: 0
            contentItem: Spinner {
                color: control.spinnerLight ? "#ffffff" : "#000000"
                running: control.loading
            }
            Accessible.ignored: true
        }
    }

    background: Rectangle {
        objectName: "fill"
        radius: 13
        color: control.fillColor
        scale: control.pressScale

        // A thin light line just inside the edge, one pixel wide: half a
        // pixel would all but vanish on an ordinary screen.
        Rectangle {
            objectName: "outline"
            anchors.fill: parent
            visible: control.outlined
            radius: parent.radius
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.4)
        }

        FocusRing {
            visible: control.visualFocus
        }
    }
}
