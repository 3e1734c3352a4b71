#include "toastdispatcher.h"

#include <QCursor>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

constexpr int messageWrapWidth = 400;
constexpr int horizontalPadding = 16;
constexpr int verticalPadding = 8;
// The toast's smallest size; a longer message makes it larger.
constexpr QSize minimumToastSize(250, 30);
// Between the tray icon (or the screen's corner) and the toast.
constexpr int gap = 4;

} // namespace

ToastDispatcher::ToastDispatcher(QObject *parent) : QObject(parent) {}

// The one toast window, made with the first toast and reused for every later
// one: the scene graph and the QML engine cost a start-up that shows no
// toast both time and tens of megabytes.
QQuickView *ToastDispatcher::ensurePopover()
{
    if (m_popover)
        return m_popover.get();
    m_popover = std::make_unique<QQuickView>();
    // A tooltip-type window is not managed by the window manager, and with
    // these hints neither a click nor showing it gives it the focus: the
    // user keeps typing where they were.
    m_popover->setFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                        | Qt::WindowStaysOnTopHint);
    m_popover->setObjectName(QStringLiteral("ToastWindow"));
    m_popover->setResizeMode(QQuickView::SizeRootObjectToView);
    m_popover->setSource(QUrl(QStringLiteral("qrc:/wugg/menubar/qml/Toast.qml")));
    if (QQuickItem *root = m_popover->rootObject())
        connect(root, SIGNAL(tapped()), this, SLOT(tapped()));
    else
        for (const QQmlError &error : m_popover->errors())
            qWarning("toast: %s", qPrintable(error.toString()));
    return m_popover.get();
}

ToastDispatcher::~ToastDispatcher() = default;

QFont ToastDispatcher::messageFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(12);
    return font;
}

QSize ToastDispatcher::measure(const QString &message)
{
    const QFontMetrics metrics(messageFont());
    // Height without limit in practice; only the width wraps.
    const QRect space(0, 0, messageWrapWidth, 1 << 24);
    return metrics.boundingRect(space, Qt::TextWordWrap, message).size();
}

bool ToastDispatcher::isShowing() const
{
    return m_popover && m_popover->isVisible();
}

void ToastDispatcher::showToast(const QString &message, QSystemTrayIcon *statusItem, std::function<void()> onTap,
                                std::chrono::milliseconds duration)
{
    // A tray icon that is not shown has nothing to hang a toast under.
    if (!statusItem || !statusItem->isVisible())
        return;
    QQuickItem *root = ensurePopover()->rootObject();
    if (!root)
        return;

    close();
    const quint64 toast = m_generation;
    m_onTap = std::move(onTap);

    const QSize textSize = measure(message);
    root->setProperty("message", message);
    root->setProperty("messageFont", messageFont());
    root->setProperty("messageWidth", textSize.width());
    root->setProperty("messageHeight", textSize.height());
    // The toast is never smaller than 250 x 30, and grows to the padded
    // message when that is larger, so the whole message can be read.
    m_popover->resize(std::max(minimumToastSize.width(), textSize.width() + 2 * horizontalPadding),
                      std::max(minimumToastSize.height(), textSize.height() + 2 * verticalPadding));
    place(statusItem);
    // Shown without activating: a toast never becomes the focus window.
    m_popover->show();

    QTimer::singleShot(duration, this, [this, toast] {
        if (m_generation == toast)
            close();
    });
}

void ToastDispatcher::place(QSystemTrayIcon *statusItem)
{
    const QSize size = m_popover->size();
    const QRect icon = statusItem->geometry();
    QScreen *screen = nullptr;
    QPoint position;
    if (!icon.isEmpty()) {
        screen = QGuiApplication::screenAt(icon.center());
        position = QPoint(icon.center().x() - size.width() / 2, icon.bottom() + 1 + gap);
        // A tray at the bottom edge: the toast goes above the icon instead.
        if (screen && position.y() + size.height() > screen->geometry().bottom() + 1)
            position.setY(icon.top() - gap - size.height());
    } else {
        // Trays that do not say where the icon is: the corner where trays
        // usually are, on the screen the user is looking at.
        screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            position = QPoint(area.right() + 1 - gap - size.width(), area.top() + gap);
        }
    }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        position.setX(std::clamp(position.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
        position.setY(std::clamp(position.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
        m_popover->setScreen(screen);
    }
    m_popover->setPosition(position);
}

void ToastDispatcher::close()
{
    ++m_generation;
    m_onTap = nullptr;
    if (m_popover)
        m_popover->hide();
}

void ToastDispatcher::tapped()
{
    // Run after the click handler has returned: the action may open windows
    // or show a toast of its own. Two quick clicks still act once, since the
    // first one spends the toast's number.
    QMetaObject::invokeMethod(
        this,
        [this, toast = m_generation] {
            if (m_generation != toast || !isShowing())
                return;
            const std::function<void()> action = std::exchange(m_onTap, nullptr);
            const QPointer<ToastDispatcher> self(this);
            if (action)
                action();
            if (self && m_generation == toast)
                close();
        },
        Qt::QueuedConnection);
}
