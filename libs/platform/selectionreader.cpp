#include "platform.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

namespace platform {

namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template<class T>
using Owned = std::unique_ptr<T, Free>;

xcb_atom_t intern(xcb_connection_t *c, const QByteArray &name)
{
    Owned<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray atomName(xcb_connection_t *c, xcb_atom_t atom)
{
    Owned<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return {};
    return QByteArray(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

} // namespace

struct SelectionReader::Connection
{
    xcb_connection_t *c = nullptr;
    xcb_window_t window = XCB_NONE;
    xcb_atom_t selection = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    xcb_atom_t utf8 = XCB_ATOM_NONE;
    // The selection's targets by the names Qt gives them.
    QList<std::pair<QString, xcb_atom_t>> targets;

    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }

    // The next event of the window that passes, or none once the deadline has.
    Owned<xcb_generic_event_t> waitFor(const std::function<bool(xcb_generic_event_t *)> &wanted,
                                       const QDeadlineTimer &deadline)
    {
        for (;;) {
            while (Owned<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
                if (wanted(event.get()))
                    return event;
            }
            if (xcb_connection_has_error(c) || deadline.hasExpired())
                return nullptr;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&fd, 1, int(std::min<qint64>(deadline.remainingTime(), 100)));
        }
    }

    // The property's whole value, deleted; its type in type.
    std::optional<QByteArray> takeProperty(xcb_atom_t *type, qsizetype limit)
    {
        QByteArray value;
        quint32 offset = 0; // in 32-bit units, as the protocol counts
        for (;;) {
            Owned<xcb_get_property_reply_t> reply(xcb_get_property_reply(
                c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, offset, 1 << 16), nullptr));
            if (!reply || reply->type == XCB_ATOM_NONE)
                return std::nullopt;
            *type = reply->type;
            value.append(static_cast<const char *>(xcb_get_property_value(reply.get())),
                         xcb_get_property_value_length(reply.get()));
            if (value.size() > limit)
                return std::nullopt;
            if (reply->bytes_after == 0)
                break;
            offset += quint32(xcb_get_property_value_length(reply.get()) / 4);
        }
        xcb_delete_property(c, window, property);
        xcb_flush(c);
        return value;
    }

    std::optional<QByteArray> convert(xcb_atom_t target, const QDeadlineTimer &deadline, qsizetype limit)
    {
        xcb_delete_property(c, window, property);
        xcb_convert_selection(c, window, selection, target, property, XCB_CURRENT_TIME);
        xcb_flush(c);
        const auto notify = waitFor(
            [this](xcb_generic_event_t *e) {
                return (e->response_type & 0x7f) == XCB_SELECTION_NOTIFY
                    && reinterpret_cast<xcb_selection_notify_event_t *>(e)->requestor == window;
            },
            deadline);
        if (!notify || reinterpret_cast<xcb_selection_notify_event_t *>(notify.get())->property == XCB_ATOM_NONE)
            return std::nullopt;
        xcb_atom_t type = XCB_ATOM_NONE;
        std::optional<QByteArray> value = takeProperty(&type, limit);
        if (!value || type != incr)
            return value;
        // Large data comes in pieces, each announced by a new value of the
        // property; an empty piece ends it. Deleting the INCR value asked
        // for the first.
        QByteArray whole;
        for (;;) {
            const auto piece = waitFor(
                [this](xcb_generic_event_t *e) {
                    if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                        return false;
                    const auto *p = reinterpret_cast<xcb_property_notify_event_t *>(e);
                    return p->window == window && p->atom == property && p->state == XCB_PROPERTY_NEW_VALUE;
                },
                deadline);
            if (!piece)
                return std::nullopt;
            value = takeProperty(&type, limit - whole.size());
            if (!value)
                return std::nullopt;
            if (value->isEmpty())
                return whole;
            whole += *value;
        }
    }
};

SelectionReader::SelectionReader() = default;
SelectionReader::~SelectionReader() = default;

std::unique_ptr<SelectionReader> SelectionReader::clipboard(const QDeadlineTimer &deadline)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->c = xcb_connect(nullptr, nullptr);
    xcb_connection_t *c = connection->c;
    if (xcb_connection_has_error(c))
        return nullptr;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return nullptr;
    connection->selection = intern(c, "CLIPBOARD");
    connection->property = intern(c, "WUGG_SELECTION");
    connection->incr = intern(c, "INCR");
    connection->utf8 = intern(c, "UTF8_STRING");
    connection->window = xcb_generate_id(c);
    const quint32 events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, connection->window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);

    auto reader = std::unique_ptr<SelectionReader>(new SelectionReader);
    reader->m_connection = std::move(connection);
    Connection &x = *reader->m_connection;
    const std::optional<QByteArray> list = x.convert(intern(c, "TARGETS"), deadline, 64 * 1024);
    if (!list)
        return reader; // no owner, or one that does not answer: nothing to read
    const auto *atoms = reinterpret_cast<const xcb_atom_t *>(list->constData());
    const qsizetype count = list->size() / qsizetype(sizeof(xcb_atom_t));
    bool text = false;
    for (qsizetype i = 0; i < count; ++i) {
        const xcb_atom_t atom = atoms[i];
        // Named as Qt names another owner's targets: the string targets are
        // its text/plain, read as UTF-8.
        if (atom == x.utf8) {
            text = true;
            continue;
        }
        const QString name = QString::fromLatin1(atomName(c, atom));
        if (name.isEmpty() || (text && name == QLatin1String("text/plain")))
            continue;
        x.targets.append({name, atom});
    }
    if (text) {
        x.targets.removeIf([](const auto &target) { return target.first == QLatin1String("text/plain"); });
        x.targets.prepend({QStringLiteral("text/plain"), x.utf8});
    }
    return reader;
}

QStringList SelectionReader::formats() const
{
    QStringList names;
    for (const auto &target : std::as_const(m_connection->targets))
        names << target.first;
    return names;
}

std::optional<QByteArray> SelectionReader::data(const QString &format, const QDeadlineTimer &deadline,
                                                qsizetype limit)
{
    for (const auto &[name, atom] : std::as_const(m_connection->targets)) {
        if (name == format)
            return m_connection->convert(atom, deadline, limit);
    }
    return std::nullopt;
}

} // namespace platform
