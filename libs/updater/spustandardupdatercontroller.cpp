#include "spustandardupdatercontroller.h"


SPUStandardUpdaterController::SPUStandardUpdaterController(bool startingUpdater, SPUUpdaterDelegate *updaterDelegate,
                                                           SPUStandardUserDriverDelegate *userDriverDelegate,
                                                           Options options, QObject *parent)
    : QObject(parent)
    , m_updaterDelegate(updaterDelegate)
    , m_userDriverDelegate(userDriverDelegate)
    , m_makeWindows(options.showWindows ? options.makeWindows : nullptr)
{
    const QString currentVersion = options.currentVersion;
    m_updater = new SPUUpdater(std::move(options), this);
    m_model = new UpdateWindowModel(currentVersion, this);

    connect(m_updater, &SPUUpdater::checkFinished, this,
            [this](Outcome outcome, const QString &message, bool userInitiated) {
                if (!userInitiated)
                    return;
                Q_EMIT checkFinished(outcome, message);
                if (outcome == Outcome::UpToDate)
                    showMessage(QStringLiteral("You're up to date"), message);
                else if (outcome == Outcome::Failed)
                    showMessage(QStringLiteral("Update check failed"), message);
            });
    connect(m_updater, &SPUUpdater::updateFound, this, &SPUStandardUpdaterController::showUpdate);
    connect(m_updater, &SPUUpdater::updateFailed, this, [this](const QString &message, bool userInitiated) {
        Q_EMIT updateFailed(message);
        m_model->setBusy(false);
        if (userInitiated)
            showMessage(QStringLiteral("Update failed"), message);
    });
    connect(m_model, &UpdateWindowModel::installRequested, m_updater, &SPUUpdater::installUpdate);
    connect(m_model, &UpdateWindowModel::skipRequested, m_updater, &SPUUpdater::skipVersion);

    if (startingUpdater)
        m_updater->startUpdater();
}

SPUStandardUpdaterController::~SPUStandardUpdaterController() = default;

void SPUStandardUpdaterController::checkForUpdates()
{
    m_updater->checkForUpdates();
}

void SPUStandardUpdaterController::showUpdate(const SUAppcastItem &item, bool userInitiated)
{
    const bool gentle = !userInitiated && m_userDriverDelegate
        && m_userDriverDelegate->supportsGentleScheduledUpdateReminders();
    if (m_userDriverDelegate)
        m_userDriverDelegate->standardUserDriverWillHandleShowingUpdate(true, item, SPUUserUpdateState{userInitiated});
    ensureWindows();
    m_model->showUpdate(item, !gentle);
}

void SPUStandardUpdaterController::showMessage(const QString &title, const QString &text)
{
    ensureWindows();
    m_model->showMessage(title, text);
}

void SPUStandardUpdaterController::ensureWindows()
{
    if (m_makeWindows && !m_windows)
        m_windows = m_makeWindows(m_model);
}
