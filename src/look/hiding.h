#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace Look {

// Shows an item, hides it keeping its space, or takes it out of the layout:
//
//     Button {
//         Hiding.hidden: !model.signedIn   // false: shown, whatever `remove` says
//         Hiding.remove: true              // hidden: out of the layout (visible false)
//     }
//
// Hidden but not removed, the item is transparent (opacity 0) and takes no
// input (enabled false), yet stays visible to its layout, which keeps its
// space. The item's own visible, enabled and opacity come back when it
// shows again; a change the item makes to them while hidden is kept for
// then, except disabling itself while already disabled by the hiding.
class HidingAttached : public QObject
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(bool hidden READ hidden WRITE setHidden NOTIFY hiddenChanged)
    Q_PROPERTY(bool remove READ remove WRITE setRemove NOTIFY removeChanged)

public:
    explicit HidingAttached(QObject *attachee);

    bool hidden() const { return m_hidden; }
    void setHidden(bool hidden);
    bool remove() const { return m_remove; }
    void setRemove(bool remove);

Q_SIGNALS:
    void hiddenChanged();
    void removeChanged();

private:
    enum class State { Shown, Blank, Removed };

    void update();
    void hold();
    void release();
    void itemChanged();

    QPointer<QQuickItem> m_item;
    bool m_hidden = false;
    bool m_remove = false;
    State m_state = State::Shown;
    bool m_enforcing = false;
    // The item's own values while the hiding holds them.
    qreal m_opacity = 1.0;
    bool m_enabled = true;
    bool m_visible = true;
};

class Hiding : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Hiding is only used as an attached property")
    QML_ATTACHED(HidingAttached)

public:
    static HidingAttached *qmlAttachedProperties(QObject *object);
};

} // namespace Look
