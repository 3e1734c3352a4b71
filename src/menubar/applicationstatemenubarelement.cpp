#include "applicationstatemenubarelement.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace {

using State = ApplicationStateMenuBarElement::State;
using Phase = ApplicationStateMenuBarElement::AnimationPhase;
using Style = UserPreferences::MenuBarIconStyle;

[[noreturn]] void fail(const char *step)
{
    qFatal("ApplicationStateMenuBarElement: %s", step);
}

struct Symbol
{
    const char *name;
    const char *description;
};

// The symbol of a minimal-style frame; none where the frame is the base icon.
std::optional<Symbol> minimalSymbol(State state, Phase phase)
{
    switch (state) {
    case State::idle:
        return std::nullopt;
    case State::inProgress:
        return phase == Phase::phase1 ? Symbol{"hourglass.tophalf.filled", "in progress phase 1"}
                                      : Symbol{"hourglass.bottomhalf.filled", "in progress phase 2"};
    case State::error:
        if (phase == Phase::phase1)
            return Symbol{"exclamationmark.circle", "error phase 1"};
        return std::nullopt;
    case State::success:
        if (phase == Phase::phase1)
            return Symbol{"checkmark", "success phase 1"};
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

// The icons are among core's resources; asking for them by name also keeps
// core's library loaded where nothing else would.
static void registerIcons()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(wugg_resources);
        return true;
    }();
    Q_UNUSED(registered)
}

QImage ApplicationStateMenuBarElement::loadImage(const QString &name, const QString &description)
{
    registerIcons();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    // Checked first so an unknown symbol does not also log a warning.
    if (!QFile::exists(path))
        return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QImage image(kImageSize, kImageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, kImageSize, kImageSize));
    painter.end();
    if (!description.isEmpty())
        image.setText(QStringLiteral("Description"), description);
    return image;
}

QImage ApplicationStateMenuBarElement::image() const
{
    // Loaded first, whatever the frame: without it the package is broken.
    const QImage base = loadImage(kBaseImageName);
    if (base.isNull())
        qFatal("ApplicationStateMenuBarElement: the image \"%s\" is missing from the resources",
               qPrintable(kBaseImageName));

    if (preference == Style::colored) {
        const auto color = tintColor(state);
        if (!color || phase == Phase::phase2)
            return base;
        return tint(base, *color);
    }

    const auto symbol = minimalSymbol(state, phase);
    if (!symbol)
        return base;
    return loadImage(QString::fromLatin1(symbol->name), QString::fromLatin1(symbol->description));
}

ApplicationStateMenuBarElement::AnimationPhase ApplicationStateMenuBarElement::flipped(AnimationPhase p)
{
    return p == Phase::phase1 ? Phase::phase2 : Phase::phase1;
}

std::optional<QColor> ApplicationStateMenuBarElement::tintColor(State state)
{
    switch (state) {
    case State::idle:
        return std::nullopt;
    case State::inProgress:
        return QColor(36, 150, 229);
    case State::error:
        return QColor(220, 57, 45);
    case State::success:
        return QColor(69, 229, 95);
    }
    return std::nullopt;
}

QImage tint(const QImage &image, const QColor &color)
{
    // Each step that yields nothing is a fault in the program, named in the message.
    const QImage input = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (input.isNull())
        fail("Failed to create CGImage from NSImage");

    QImage output = input.copy();
    QPainter painter;
    if (!painter.begin(&output))
        fail("Failed to create CIFilter");
    // Multiplying with an opaque colour would also fill the transparent
    // pixels, so the input's alpha is laid over the product afterwards.
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(output.rect(), QColor(color.red(), color.green(), color.blue()));
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, input);
    if (!painter.end())
        fail("Failed to get output CIImage from filter");

    if (output.isNull() || output.size() != input.size())
        fail("Failed to create CGImage from CIImage");
    output.setDevicePixelRatio(image.devicePixelRatio());
    return output;
}

MenuBarIconAnimation menuBarIconAnimation(const ApplicationState &state)
{
    using namespace std::chrono_literals;
    switch (state.kind()) {
    case ApplicationState::Kind::idle:
    case ApplicationState::Kind::unauthenticated:
        return {State::idle, std::nullopt};
    case ApplicationState::Kind::inProgress:
        return {State::inProgress, 200ms};
    case ApplicationState::Kind::success:
        return {State::success, 1000ms};
    case ApplicationState::Kind::error:
        return {State::error, 500ms};
    }
    return {State::idle, std::nullopt};
}
