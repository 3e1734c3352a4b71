#include "shortcutrecorder.h"

#include "keysyms.h"

#include <QKeyEvent>
#include <QKeySequence>

void qml_register_types_KeyboardShortcuts();

namespace KeyboardShortcuts {

void registerQmlModule()
{
    static bool registered = false;
    if (!registered) {
        qml_register_types_KeyboardShortcuts();
        registered = true;
    }
}

ShortcutRecorder::ShortcutRecorder(QQuickItem *parent) : QQuickItem(parent)
{
    setActiveFocusOnTab(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    connect(notifier(), &Notifier::shortcutChanged, this, [this](const QString &changed) {
        if (changed == m_name)
            Q_EMIT shortcutChanged();
    });
    connect(notifier(), &Notifier::grabFailed, this, [this](const QString &failed, const QString &description) {
        if (failed == m_name)
            setErrorText(tr("%1 is not available; another application may be using it.").arg(description));
    });
}

ShortcutRecorder::~ShortcutRecorder()
{
    // Global shortcuts are held again when a recording window closes.
    stopRecording();
}

QHash<QString, QString> &ShortcutRecorder::titles()
{
    static QHash<QString, QString> byName;
    return byName;
}

void ShortcutRecorder::setTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    if (!m_name.isEmpty())
        titles().insert(m_name, title);
    Q_EMIT titleChanged();
}

void ShortcutRecorder::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    if (!m_title.isEmpty())
        titles().insert(m_name, m_title);
    setErrorText(QString());
    Q_EMIT nameChanged();
    Q_EMIT shortcutChanged();
}

Name ShortcutRecorder::currentName() const
{
    return Name(m_name, defaultShortcut(m_name));
}

bool ShortcutRecorder::hasShortcut() const
{
    return !m_name.isEmpty() && getShortcut(currentName()).has_value();
}

QString ShortcutRecorder::shortcutText() const
{
    if (m_name.isEmpty())
        return QString();
    const auto shortcut = getShortcut(currentName());
    return shortcut ? shortcut->description() : QString();
}

void ShortcutRecorder::startRecording()
{
    if (m_recording || m_name.isEmpty())
        return;
    m_recording = true;
    // Otherwise the keys of existing shortcuts never reach this window.
    disableGlobalShortcuts();
    setPendingText(QString());
    Q_EMIT recordingChanged();
}

void ShortcutRecorder::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    enableGlobalShortcuts();
    setPendingText(QString());
    Q_EMIT recordingChanged();
}

void ShortcutRecorder::clear()
{
    stopRecording();
    store(std::nullopt);
}

void ShortcutRecorder::store(const std::optional<Shortcut> &shortcut)
{
    if (m_name.isEmpty())
        return;
    setErrorText(QString());
    // One press would run both actions.
    if (shortcut) {
        if (const auto holder = nameHolding(*shortcut, m_name)) {
            const QString title = titles().value(*holder, *holder);
            setErrorText(tr("%1 is already used by \u201c%2\u201d.").arg(shortcut->description(), title));
            return;
        }
    }
    const std::optional<Shortcut> previous = getShortcut(currentName());
    // Recording has ended, so the result says whether the keys are held.
    const GrabResult result = setShortcut(shortcut, currentName());
    if (result == GrabResult::NoX11)
        setErrorText(tr("Global shortcuts need an X11 session."));
    // Keys the X server refused would leave the action without any; the
    // previous ones still work (the failure was reported through grabFailed).
    if ((result == GrabResult::Taken || result == GrabResult::NoKeyCode) && previous != shortcut)
        setShortcut(previous, currentName());
}

void ShortcutRecorder::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);

    if (!m_recording) {
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            startRecording();
        } else if (modifiers == Qt::NoModifier && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
            clear();
        } else {
            event->ignore();
            return;
        }
        event->accept();
        return;
    }

    // Tab and Shift+Tab move on through the window, as everywhere else.
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier) {
        stopRecording();
        event->ignore();
        return;
    }
    event->accept();
    if (detail::isModifierKey(key) || key == 0 || key == Qt::Key_unknown) {
        setPendingText(modifiers ? QKeySequence(int(modifiers)).toString(QKeySequence::NativeText) : QString());
        return;
    }
    if (modifiers == Qt::NoModifier) {
        if (key == Qt::Key_Escape)
            stopRecording();
        else if (key == Qt::Key_Backspace || key == Qt::Key_Delete)
            clear();
        // Any other bare key would take that key away from typing.
        return;
    }
    // Shift alone only with keys that type nothing (F-keys, arrows...).
    if (modifiers == Qt::ShiftModifier && key < Qt::Key_Escape)
        return;

    // Qt reports Shift+Tab as Backtab; the key itself is Tab.
    const Qt::Key recordedKey = key == Qt::Key_Backtab ? Qt::Key_Tab : Qt::Key(key);
    stopRecording();
    store(Shortcut(recordedKey, modifiers));
    Q_EMIT recorded();
}

void ShortcutRecorder::keyReleaseEvent(QKeyEvent *event)
{
    if (!m_recording) {
        event->ignore();
        return;
    }
    event->accept();
    if (detail::isModifierKey(event->key())) {
        // The released modifier is still in modifiers() on X11; drop it.
        Qt::KeyboardModifiers held = event->modifiers()
                                   & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        switch (event->key()) {
        case Qt::Key_Shift: held &= ~Qt::ShiftModifier; break;
        case Qt::Key_Control: held &= ~Qt::ControlModifier; break;
        case Qt::Key_Alt: held &= ~Qt::AltModifier; break;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R: held &= ~Qt::MetaModifier; break;
        default: break;
        }
        setPendingText(held ? QKeySequence(int(held)).toString(QKeySequence::NativeText) : QString());
    }
}

void ShortcutRecorder::mousePressEvent(QMouseEvent *event)
{
    forceActiveFocus(Qt::MouseFocusReason);
    if (m_recording)
        stopRecording();
    else
        startRecording();
    event->accept();
}

void ShortcutRecorder::focusOutEvent(QFocusEvent *event)
{
    QQuickItem::focusOutEvent(event);
    stopRecording();
}

void ShortcutRecorder::setPendingText(const QString &text)
{
    if (text == m_pendingText)
        return;
    m_pendingText = text;
    Q_EMIT pendingTextChanged();
}

void ShortcutRecorder::setErrorText(const QString &text)
{
    if (text == m_errorText)
        return;
    m_errorText = text;
    Q_EMIT errorTextChanged();
}

} // namespace KeyboardShortcuts
