import QtQuick

// The main action of a form: white, black label, greyer while hovered,
// pressed or drawn disabled.
StyledButton {
    normalFill: "#ffffff"
    activeFill: "#b3b3b3"           // white darkened by 0.3
    textColor: "#000000"
    loadingTextColor: "#ffffff"     // the normal fill: only the spinner shows
    spinnerInvertedInDark: true     // dark on the white fill
}
