#include "accessibilityhandler.h"

#include "textsegments.h"

#include <platform.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>

namespace {

// The focused text input of this program, addressed in characters.
class FocusedInputElement : public AccessibilityElement
{
public:
    explicit FocusedInputElement(platform::FocusedTextInput input) : m_input(std::move(input)) {}

    std::optional<QString> value() const override { return m_input.text(); }
    std::optional<QString> selectedText() const override { return m_input.selectedText(); }

    void setSelectedTextRange(const CharacterRange &range) override
    {
        const auto text = m_input.text();
        if (!text)
            return;
        const auto start = TextSegments::offsetOfCharacter(*text, range.location);
        const auto end = TextSegments::offsetOfCharacter(*text, range.location + range.length);
        if (start && end)
            m_input.setSelection(*start, *end - *start);
    }

    void setValue(const QString &value) override { m_input.setText(value); }

private:
    mutable platform::FocusedTextInput m_input;
};

void notifyOnce(const QString &summary, const QString &body)
{
    static bool shown = false;
    if (shown)
        return;
    shown = true;
    qWarning("%s: %s", qPrintable(summary), qPrintable(body));
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QGuiApplication::applicationDisplayName() << 0u << QString() << summary << body << QStringList()
           << QVariantMap() << -1;
    // Fire and forget: without a notification service the warning above stays.
    QDBusConnection::sessionBus().send(notify);
}

} // namespace

std::shared_ptr<AccessibilityElement> AccessibilityHandler::focusedElement()
{
    platform::FocusedTextInput input;
    if (!input.isValid())
        return nullptr;
    return std::make_shared<FocusedInputElement>(std::move(input));
}

void AccessibilityHandler::requestAccessibilityPermission()
{
    const bool wayland = qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!platform::canPostSyntheticEvents()) {
        notifyOnce(QStringLiteral("Wugg it! cannot reach other applications"),
                   QStringLiteral("This desktop session does not let Wugg it! listen for its shortcuts or type "
                                  "into other applications: it needs an X11 display with the XTEST extension."));
    } else if (wayland) {
        notifyOnce(QStringLiteral("Wugg it! works with X11 applications only"),
                   QStringLiteral("On a Wayland session the shortcuts and the text replacement reach only "
                                  "applications that run under XWayland."));
    }
}

void AccessibilityHandler::updateActiveInputRange(const QString &text)
{
    const auto element = focusedElement();
    const QString value = element ? element->value().value_or(QString()) : QString();
    const auto at = TextSegments::firstOccurrence(value, text);
    if (!at)
        return;
    activeInputRange = CharacterRange{TextSegments::characterCount(value.left(*at)),
                                      TextSegments::characterCount(text)};
}

void AccessibilityHandler::replaceSelectedText(const QString &text)
{
    const auto element = focusedElement();
    if (!element || !activeInputRange)
        return;
    const auto value = element->value();
    if (!value)
        return;
    const auto start = TextSegments::offsetOfCharacter(*value, activeInputRange->location);
    const auto end = TextSegments::offsetOfCharacter(*value, activeInputRange->location + activeInputRange->length);
    // The field changed under us (edited, or another field has the focus):
    // a range that no longer lies inside the value writes nothing.
    if (!start || !end || activeInputRange->location < 0 || activeInputRange->length < 0)
        return;
    QString replaced = *value;
    replaced.replace(*start, *end - *start, text);
    element->setSelectedTextRange(*activeInputRange);
    element->setValue(replaced);
}
