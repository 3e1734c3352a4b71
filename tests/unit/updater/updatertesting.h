#pragma once

// Shared pieces of the updater tests: signing keys, a recording delegate and
// a controller wired to the loopback feed with a clock the test moves.

#include "spustandardupdatercontroller.h"
#include "updatefeedstandin.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sodium.h>

#include <memory>
#include <optional>

struct SigningKeys
{
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, '\0');

    SigningKeys()
    {
        if (sodium_init() < 0)
            qFatal("libsodium failed to start");
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                            reinterpret_cast<unsigned char *>(secretKey.data()));
    }

    QString sign(const QByteArray &bytes) const
    {
        QByteArray signature(crypto_sign_BYTES, '\0');
        crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char *>(bytes.constData()),
                             static_cast<unsigned long long>(bytes.size()),
                             reinterpret_cast<const unsigned char *>(secretKey.constData()));
        return QString::fromLatin1(signature.toBase64());
    }
};

class RecordingUserDriverDelegate : public SPUStandardUserDriverDelegate
{
public:
    struct Notice
    {
        bool handleShowingUpdate, userInitiated, windowVisibleBefore;
        QString version;
    };

    bool supportsGentleScheduledUpdateReminders() const override { return gentle; }
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SUAppcastItem &update,
                                                   const SPUUserUpdateState &state) override
    {
        notices.append({handleShowingUpdate, state.userInitiated, model && model->windowVisible(), update.version});
    }

    bool gentle = false;
    UpdateWindowModel *model = nullptr;
    QList<Notice> notices;
};

inline SPUUpdater::Outcome outcome(const QSignalSpy &spy) { return spy.last().at(0).value<SPUUpdater::Outcome>(); }
using Checked = std::optional<SPUUpdater::Outcome>; // nothing: the check never finished

template<typename Object, typename Signal>
Checked finishedCheck(Object *object, Signal finishedSignal, void (Object::*check)())
{
    QSignalSpy finished(object, finishedSignal);
    (object->*check)();
    if (finished.isEmpty() && !finished.wait())
        return std::nullopt;
    return outcome(finished);
}

inline Checked userCheck(SPUStandardUpdaterController &controller)
{
    return finishedCheck(&controller, &SPUStandardUpdaterController::checkFinished,
                         &SPUStandardUpdaterController::checkForUpdates);
}

inline Checked backgroundCheck(SPUUpdater *updater)
{
    return finishedCheck(updater, &SPUUpdater::checkFinished, &SPUUpdater::checkForUpdatesInBackground);
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("could not write %s", qPrintable(path));
}

// A package of recognisable bytes, signed with the given keys.
inline UpdateFeedStandIn::Release signedRelease(const SigningKeys &keys, const QString &version)
{
    UpdateFeedStandIn::Release release;
    release.version = release.shortVersion = version;
    release.fileName = QStringLiteral("Wugg_it-%1-x86_64.AppImage").arg(version);
    release.bytes = QByteArray("\x7f" "ELF AppImage of ") + version.toLatin1() + QByteArray(4096, 'x');
    release.signature = keys.sign(release.bytes);
    return release;
}

struct UpdaterFixture
{
    UpdaterFixture()
    {
        if (!feed.listen())
            qFatal("the feed stand-in could not listen");
    }

    void offer(const QString &version) { feed.setReleases({signedRelease(keys, version)}); }

    SPUUpdaterOptions options()
    {
        SPUUpdaterOptions o;
        o.feedUrl = feed.feedUrl();
        o.currentVersion = QStringLiteral("110");
        o.publicEdKey = QString::fromLatin1(keys.publicKey.toBase64());
        o.settingsPath = dir.filePath(QStringLiteral("updater.ini"));
        o.cacheFolder = dir.filePath(QStringLiteral("cache"));
        o.clock = [this] { return now; };
        o.firstCheckDelay = std::chrono::milliseconds(50);
        o.checkInterval = std::chrono::hours(24);
        o.relaunch = [this](const QString &appImage) { relaunched.append(appImage); };
        o.showWindows = false;
        return o;
    }

    std::unique_ptr<SPUStandardUpdaterController> makeController(bool starting = false)
    {
        return makeController(options(), starting);
    }

    std::unique_ptr<SPUStandardUpdaterController> makeController(SPUUpdaterOptions o, bool starting)
    {
        auto controller = std::make_unique<SPUStandardUpdaterController>(starting, &updaterDelegate,
                                                                         &userDelegate, std::move(o));
        userDelegate.model = controller->windowModel();
        return controller;
    }

    SigningKeys keys;
    QTemporaryDir dir;
    UpdateFeedStandIn feed;
    QDateTime now = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    QStringList relaunched;
    SPUUpdaterDelegate updaterDelegate;
    RecordingUserDriverDelegate userDelegate;
};
