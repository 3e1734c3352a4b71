#include "hiding.h"

#include <QQmlInfo>

namespace Look {

HidingAttached::HidingAttached(QObject *attachee)
    : QObject(attachee)
    , m_item(qobject_cast<QQuickItem *>(attachee))
{
    if (!m_item) {
        qmlWarning(attachee) << "Hiding applies to items only";
        return;
    }
    connect(m_item, &QQuickItem::opacityChanged, this, &HidingAttached::itemChanged);
    connect(m_item, &QQuickItem::enabledChanged, this, &HidingAttached::itemChanged);
    connect(m_item, &QQuickItem::visibleChanged, this, &HidingAttached::itemChanged);
}

void HidingAttached::setHidden(bool hidden)
{
    if (m_hidden == hidden)
        return;
    m_hidden = hidden;
    update();
    Q_EMIT hiddenChanged();
}

void HidingAttached::setRemove(bool remove)
{
    if (m_remove == remove)
        return;
    m_remove = remove;
    update();
    Q_EMIT removeChanged();
}

void HidingAttached::update()
{
    if (!m_item)
        return;
    const State next = !m_hidden ? State::Shown : (m_remove ? State::Removed : State::Blank);
    if (next == m_state)
        return;
    m_enforcing = true;
    release();
    m_state = next;
    hold();
    m_enforcing = false;
}

// Each hidden state holds only what it needs: a blank holds opacity and
// enabled, a removed item holds visible. The rest stays the item's own.
void HidingAttached::hold()
{
    // enabled and visible read back as the effective values; one held off
    // by a parent is the parent's doing, not the item's own.
    const QQuickItem *parent = m_item->parentItem();
    switch (m_state) {
    case State::Shown:
        break;
    case State::Blank:
        m_opacity = m_item->opacity();
        m_enabled = m_item->isEnabled() || (parent && !parent->isEnabled());
        m_item->setOpacity(0.0);
        m_item->setEnabled(false);
        break;
    case State::Removed:
        m_visible = m_item->isVisible() || (parent && !parent->isVisible());
        m_item->setVisible(false);
        break;
    }
}

void HidingAttached::release()
{
    switch (m_state) {
    case State::Shown:
        break;
    case State::Blank:
        m_item->setOpacity(m_opacity);
        m_item->setEnabled(m_enabled);
        break;
    case State::Removed:
        m_item->setVisible(m_visible);
        break;
    }
}

// The item's own bindings may write what the hiding holds: keep what they
// wrote for later and hold it again.
void HidingAttached::itemChanged()
{
    if (m_enforcing)
        return;
    m_enforcing = true;
    if (m_state == State::Blank) {
        if (m_item->opacity() != 0.0) {
            m_opacity = m_item->opacity();
            m_item->setOpacity(0.0);
        }
        if (m_item->isEnabled()) {
            m_enabled = true;
            m_item->setEnabled(false);
        }
    } else if (m_state == State::Removed && m_item->isVisible()) {
        m_visible = true;
        m_item->setVisible(false);
    }
    m_enforcing = false;
}

HidingAttached *Hiding::qmlAttachedProperties(QObject *object)
{
    return new HidingAttached(object);
}

} // namespace Look
