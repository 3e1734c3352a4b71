#pragma once

// Shared pieces of the updater tests: signing keys, a recording delegate and
// a controller wired to the loopback feed with a clock the test moves.

#include "spustandardupdatercontroller.h"
#include "updatefeedstandin.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sodium.h>

#include <memory>

struct SigningKeys
{
    QByteArray publicKey;
    QByteArray secretKey;

    static SigningKeys generate()
    {
        if (sodium_init() < 0)
            qFatal("libsodium failed to start");
        SigningKeys keys;
        keys.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
        keys.secretKey.resize(crypto_sign_SECRETKEYBYTES);
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(keys.publicKey.data()),
                            reinterpret_cast<unsigned char *>(keys.secretKey.data()));
        return keys;
    }

    QString publicBase64() const { return QString::fromLatin1(publicKey.toBase64()); }

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
        bool handleShowingUpdate = false;
        QString version;
        bool userInitiated = false;
        bool windowVisibleBefore = false;
    };

    bool supportsGentleScheduledUpdateReminders() const override { return gentle; }
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SUAppcastItem &update,
                                                   const SPUUserUpdateState &state) override
    {
        notices.append({handleShowingUpdate, update.version, state.userInitiated,
                        model && model->windowVisible()});
    }

    bool gentle = false;
    UpdateWindowModel *model = nullptr;
    QList<Notice> notices;
};

class NoUpdaterDelegate : public SPUUpdaterDelegate
{
};

// A package of recognisable bytes, signed with the given keys.
inline UpdateFeedStandIn::Release signedRelease(const SigningKeys &keys, const QString &version,
                                                const QString &shortVersion)
{
    UpdateFeedStandIn::Release release;
    release.version = version;
    release.shortVersion = shortVersion;
    release.fileName = QStringLiteral("Wugg_it-%1-x86_64.AppImage").arg(shortVersion);
    release.bytes = QByteArray("\x7f" "ELF AppImage of ") + shortVersion.toLatin1() + QByteArray(4096, 'x');
    release.signature = keys.sign(release.bytes);
    return release;
}

struct UpdaterFixture
{
    explicit UpdaterFixture(QString currentVersion = QStringLiteral("110"))
        : current(std::move(currentVersion))
        , keys(SigningKeys::generate())
    {
        if (!feed.listen())
            qFatal("the feed stand-in could not listen");
        now = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    }

    SPUUpdaterOptions options()
    {
        SPUUpdaterOptions o;
        o.feedUrl = feed.feedUrl();
        o.currentVersion = current;
        o.publicEdKey = keys.publicBase64();
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

    QString current;
    SigningKeys keys;
    QTemporaryDir dir;
    UpdateFeedStandIn feed;
    QDateTime now;
    QStringList relaunched;
    NoUpdaterDelegate updaterDelegate;
    RecordingUserDriverDelegate userDelegate;
};
