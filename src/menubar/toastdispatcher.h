#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QFont;
class QQuickView;
class QSystemTrayIcon;

// Short messages in a small window hanging under the tray icon. One window
// serves every toast: a new toast replaces the one on screen, and a click
// runs the toast's action and closes it.
//
// The window never takes the keyboard focus: toasts appear while the user
// types in another application.
class ToastDispatcher : public QObject
{
    Q_OBJECT

public:
    explicit ToastDispatcher(QObject *parent = nullptr);
    ~ToastDispatcher() override;

    // Shows message for duration. Without an anchor (no tray icon, or one
    // that is not shown, which is as good as having no button) nothing is
    // shown and onTap never runs. Main thread only.
    void showToast(const QString &message, QSystemTrayIcon *statusItem, std::function<void()> onTap,
                   std::chrono::milliseconds duration);

    // The size the message takes: the toast font, wrapped at 400 px.
    static QSize measure(const QString &message);
    static QFont messageFont();

    // The one toast window, for looking at it; none before the first toast.
    QQuickView *popover() const { return m_popover.get(); }
    bool isShowing() const;

private Q_SLOTS:
    void tapped();

private:
    QQuickView *ensurePopover();
    void close();
    void place(QSystemTrayIcon *statusItem);

    std::unique_ptr<QQuickView> m_popover;
    // Counts toasts and closings; a timer or a click belongs to the toast
    // whose number it carries and leaves any later one alone.
    quint64 m_generation = 0;
    std::function<void()> m_onTap;
};
