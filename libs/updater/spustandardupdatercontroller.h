#pragma once

#include "spuupdater.h"
#include "updatewindowmodel.h"

#include <QObject>

#include <memory>


// The updater together with its standard windows: the update offer and a
// small dialog for "up to date" and errors.
class SPUStandardUpdaterController : public QObject
{
    Q_OBJECT

public:
    using Options = SPUUpdaterOptions;
    using Outcome = SPUUpdater::Outcome;

    SPUStandardUpdaterController(bool startingUpdater, SPUUpdaterDelegate *updaterDelegate,
                                 SPUStandardUserDriverDelegate *userDriverDelegate, Options options,
                                 QObject *parent = nullptr);
    ~SPUStandardUpdaterController() override;

    SPUUpdater *updater() const { return m_updater; }
    UpdateWindowModel *windowModel() const { return m_model; }
    void startUpdater() { m_updater->startUpdater(); }

public Q_SLOTS:
    // The user asked: check now and say how it went.
    void checkForUpdates();

Q_SIGNALS:
    void checkFinished(SPUUpdater::Outcome outcome, const QString &message);
    void updateFailed(const QString &message);

private:
    void showUpdate(const SUAppcastItem &item, bool userInitiated);
    void showMessage(const QString &title, const QString &text);
    void ensureWindows();

    SPUUpdaterDelegate *m_updaterDelegate = nullptr;
    SPUStandardUserDriverDelegate *m_userDriverDelegate = nullptr;
    SPUUpdater *m_updater = nullptr;
    UpdateWindowModel *m_model = nullptr;
    std::unique_ptr<QObject> m_windows;
    std::function<std::unique_ptr<QObject>(UpdateWindowModel *)> m_makeWindows;
};
