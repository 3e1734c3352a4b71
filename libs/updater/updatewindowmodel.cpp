#include "updatewindowmodel.h"

UpdateWindowModel::UpdateWindowModel(QString currentVersion, QObject *parent)
    : QObject(parent)
    , m_currentVersion(std::move(currentVersion))
{
}

void UpdateWindowModel::showUpdate(const SUAppcastItem &item, bool takesFocus)
{
    m_item = item;
    m_takesFocus = takesFocus;
    m_busy = false;
    m_windowVisible = true;
    Q_EMIT changed();
}

void UpdateWindowModel::showMessage(const QString &title, const QString &text)
{
    m_messageTitle = title;
    m_messageText = text;
    m_messageVisible = true;
    m_busy = false;
    Q_EMIT changed();
}

void UpdateWindowModel::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT changed();
}

void UpdateWindowModel::install()
{
    if (!m_windowVisible || m_busy)
        return;
    m_busy = true;
    Q_EMIT changed();
    Q_EMIT installRequested();
}

void UpdateWindowModel::remindLater()
{
    m_windowVisible = false;
    Q_EMIT changed();
}

void UpdateWindowModel::skipThisVersion()
{
    if (!m_windowVisible)
        return;
    m_windowVisible = false;
    Q_EMIT changed();
    Q_EMIT skipRequested(m_item.version);
}

void UpdateWindowModel::dismissMessage()
{
    m_messageVisible = false;
    Q_EMIT changed();
}
