#pragma once

#include <applicationstate.h>
#include <userpreferences.h>

#include <QColor>
#include <QImage>
#include <QString>

#include <chrono>
#include <optional>

// One frame of the tray icon: what it shows, in which style, and which of
// the two blink frames.
struct ApplicationStateMenuBarElement
{
    enum class State {
        idle,
        inProgress,
        error,
        success,
    };

    enum class AnimationPhase {
        phase1,
        phase2,
    };

    State state = State::idle;
    UserPreferences::MenuBarIconStyle preference = UserPreferences::MenuBarIconStyle::colored;
    AnimationPhase phase = AnimationPhase::phase1;

    friend bool operator==(const ApplicationStateMenuBarElement &, const ApplicationStateMenuBarElement &) = default;

    // The frame, drawn anew on every call. Null only when a symbol image
    // cannot be found; a missing base icon stops the program.
    QImage image() const;

    // The other blink frame.
    static AnimationPhase flipped(AnimationPhase phase);

    // The colour the base icon is multiplied with in the coloured style;
    // none for idle.
    static std::optional<QColor> tintColor(State state);

    // Name of the base icon and of the symbol images in the resources.
    static inline const QString kBaseImageName = QStringLiteral("menuBarIcon");
    // Side of a rendered frame in pixels; the tray scales it to its own size.
    static constexpr int kImageSize = 64;

    // The named icon from :/icons rendered at kImageSize, or a null image
    // when there is none. The accessibility text, if any, is stored under
    // the image text key "Description".
    static QImage loadImage(const QString &name, const QString &description = {});
};

// The image multiplied by the colour, pixel by pixel; transparency is kept,
// so an opaque white pixel becomes exactly the colour.
QImage tint(const QImage &image, const QColor &color);

// How the tray icon follows one application state: the element state it
// shows and how often it blinks (none: a still icon).
struct MenuBarIconAnimation
{
    ApplicationStateMenuBarElement::State state = ApplicationStateMenuBarElement::State::idle;
    std::optional<std::chrono::milliseconds> blinkInterval;

    friend bool operator==(const MenuBarIconAnimation &, const MenuBarIconAnimation &) = default;
};

MenuBarIconAnimation menuBarIconAnimation(const ApplicationState &state);
