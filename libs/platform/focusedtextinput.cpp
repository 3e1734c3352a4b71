#include "platform.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QMetaObject>
#include <QMetaProperty>

namespace platform {

namespace {

bool hasProperty(const QObject *object, const char *name)
{
    return object->metaObject()->indexOfProperty(name) >= 0;
}

bool hasMethod(const QObject *object, const char *signature)
{
    return object->metaObject()->indexOfMethod(signature) >= 0;
}

QVariant query(QObject *object, Qt::InputMethodQuery what)
{
    QInputMethodQueryEvent event(what);
    QCoreApplication::sendEvent(object, &event);
    return event.value(what);
}

std::optional<int> queryInt(QObject *object, Qt::InputMethodQuery what)
{
    const QVariant value = query(object, what);
    bool ok = false;
    const int i = value.toInt(&ok);
    return value.isValid() && ok ? std::optional<int>(i) : std::nullopt;
}

} // namespace

FocusedTextInput::FocusedTextInput()
    : FocusedTextInput(qGuiApp ? QGuiApplication::focusObject() : nullptr)
{
}

FocusedTextInput::FocusedTextInput(QObject *object)
    : m_object(object)
{
}

FocusedTextInput::Kind FocusedTextInput::kind() const
{
    QObject *o = m_object.data();
    if (!o)
        return Kind::None;
    // QML TextInput and TextEdit, and the Controls built on them.
    if (hasProperty(o, "text") && hasProperty(o, "selectionStart") && hasProperty(o, "selectionEnd")
        && hasProperty(o, "selectedText") && hasMethod(o, "select(int,int)"))
        return Kind::Quick;
    // QTextEdit, QPlainTextEdit: the whole text is a property, the caret is
    // only told through input-method queries.
    if (hasProperty(o, "plainText") && query(o, Qt::ImCursorPosition).isValid())
        return Kind::PlainTextProperty;
    // QLineEdit and any other input that talks to input methods.
    if (query(o, Qt::ImSurroundingText).isValid() && query(o, Qt::ImCursorPosition).isValid())
        return Kind::InputMethod;
    return Kind::None;
}

bool FocusedTextInput::isValid() const
{
    return kind() != Kind::None;
}

qsizetype FocusedTextInput::inputMethodBase() const
{
    // Multi-block editors give caret and anchor relative to the caret's
    // block and the caret's place in the document apart.
    QObject *o = m_object.data();
    const std::optional<int> absolute = queryInt(o, Qt::ImAbsolutePosition);
    const std::optional<int> cursor = queryInt(o, Qt::ImCursorPosition);
    return absolute && cursor ? *absolute - *cursor : 0;
}

std::optional<QString> FocusedTextInput::text() const
{
    QObject *o = m_object.data();
    switch (kind()) {
    case Kind::None:
        return std::nullopt;
    case Kind::Quick: {
        // getText() is the plain text also when a TextEdit shows rich text,
        // in the same positions as the selection.
        const QVariant length = o->property("length");
        QString result;
        if (length.isValid() && hasMethod(o, "getText(int,int)")
            && QMetaObject::invokeMethod(o, "getText", Q_RETURN_ARG(QString, result), Q_ARG(int, 0),
                                         Q_ARG(int, length.toInt())))
            return result;
        return o->property("text").toString();
    }
    case Kind::PlainTextProperty:
        return o->property("plainText").toString();
    case Kind::InputMethod:
        return query(o, Qt::ImSurroundingText).toString();
    }
    return std::nullopt;
}

std::optional<TextRange> FocusedTextInput::selection() const
{
    QObject *o = m_object.data();
    switch (kind()) {
    case Kind::None:
        return std::nullopt;
    case Kind::Quick: {
        const qsizetype start = o->property("selectionStart").toInt();
        const qsizetype end = o->property("selectionEnd").toInt();
        return TextRange{qMin(start, end), qAbs(end - start)};
    }
    case Kind::PlainTextProperty:
    case Kind::InputMethod: {
        const std::optional<int> cursor = queryInt(o, Qt::ImCursorPosition);
        const std::optional<int> anchor = queryInt(o, Qt::ImAnchorPosition);
        if (!cursor)
            return std::nullopt;
        const int a = anchor.value_or(*cursor);
        return TextRange{inputMethodBase() + qMin(a, *cursor), qAbs(*cursor - a)};
    }
    }
    return std::nullopt;
}

std::optional<QString> FocusedTextInput::selectedText() const
{
    if (kind() == Kind::Quick)
        return m_object->property("selectedText").toString();
    // Cut from the text rather than ImCurrentSelection, which QTextEdit gives
    // with U+2029 between paragraphs: the same characters as text().
    const std::optional<QString> all = text();
    const std::optional<TextRange> range = selection();
    if (!all || !range)
        return std::nullopt;
    return all->mid(range->start, range->length);
}

bool FocusedTextInput::setSelection(qsizetype start, qsizetype length)
{
    const std::optional<QString> all = text();
    if (!all || start < 0 || length < 0 || start + length > all->size())
        return false;
    QObject *o = m_object.data();
    if (kind() == Kind::Quick) {
        if (!QMetaObject::invokeMethod(o, "select", Q_ARG(int, int(start)), Q_ARG(int, int(start + length))))
            return false;
    } else {
        // Input-method positions count from the caret's block.
        const qsizetype relative = start - inputMethodBase();
        const QList<QInputMethodEvent::Attribute> attributes{
            {QInputMethodEvent::Selection, int(relative), int(length), QVariant()}};
        QInputMethodEvent event(QString(), attributes);
        QCoreApplication::sendEvent(o, &event);
    }
    return selection() == TextRange{start, length};
}

bool FocusedTextInput::setText(const QString &newText)
{
    QObject *o = m_object.data();
    switch (kind()) {
    case Kind::None:
        return false;
    case Kind::Quick:
        o->setProperty("text", newText);
        break;
    case Kind::PlainTextProperty:
        o->setProperty("plainText", newText);
        break;
    case Kind::InputMethod: {
        const QMetaObject *meta = o->metaObject();
        const int index = meta->indexOfProperty("text");
        if (index >= 0 && meta->property(index).isWritable()
            && meta->property(index).metaType() == QMetaType::fromType<QString>()) {
            o->setProperty("text", newText);
        } else {
            // Replace the whole surrounding text, counted from the caret.
            const int cursor = queryInt(o, Qt::ImCursorPosition).value_or(0);
            const int length = int(query(o, Qt::ImSurroundingText).toString().size());
            QInputMethodEvent event;
            event.setCommitString(newText, -cursor, length);
            QCoreApplication::sendEvent(o, &event);
        }
        break;
    }
    }
    return text() == newText;
}

} // namespace platform
