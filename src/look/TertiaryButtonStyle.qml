import QtQuick

// A quiet action: no fill, white label, a thin light outline; a grey fill
// shows while hovered, pressed or drawn disabled. Clicks land anywhere in the
// outline, not only on the letters.
StyledButton {
    normalFill: "transparent"
    activeFill: "#3d3d3d"           // grey 0.04 lightened by 0.2
    textColor: "#ffffff"
    loadingTextColor: "transparent"
    outlined: true
}
