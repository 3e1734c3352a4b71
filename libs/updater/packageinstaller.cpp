#include "packageinstaller.h"

#include "suappcastitem.h"

#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cstdio>

QString verifyPackage(const QString &path, const SUAppcastItem &item, const QString &publicKeyBase64)
{
    if (sodium_init() < 0)
        return QStringLiteral("The update could not be checked because the signature library failed to start.");

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The downloaded update could not be opened.");
    const QByteArray bytes = file.readAll();

    if (item.enclosureLength < 0 || bytes.size() != item.enclosureLength)
        return QStringLiteral("The download of the update was incomplete (%1 of %2 bytes), so it was not installed.")
            .arg(bytes.size())
            .arg(item.enclosureLength);

    if (item.edSignature.isEmpty())
        return QStringLiteral("The update is not signed, so it was not installed.");

    const auto signature = QByteArray::fromBase64Encoding(item.edSignature.toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(publicKeyBase64.toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!key || key.decoded.size() != crypto_sign_PUBLICKEYBYTES)
        return QStringLiteral("This copy of Wugg it! has no valid key to check updates with, so nothing was installed.");
    if (!signature || signature.decoded.size() != crypto_sign_BYTES)
        return QStringLiteral("The update's signature is malformed, so it was not installed.");

    const int result = crypto_sign_verify_detached(
        reinterpret_cast<const unsigned char *>(signature.decoded.constData()),
        reinterpret_cast<const unsigned char *>(bytes.constData()), static_cast<unsigned long long>(bytes.size()),
        reinterpret_cast<const unsigned char *>(key.decoded.constData()));
    if (result != 0)
        return QStringLiteral("The update's signature does not match, so it was not installed.");
    return {};
}

QString installAppImage(const QString &verifiedPackage, QString *installedPath)
{
    const QString target = qEnvironmentVariable("APPIMAGE");
    if (target.isEmpty())
        return QStringLiteral("This copy of Wugg it! was not installed as an AppImage and cannot update itself.");

    const QFileInfo targetInfo(target);
    // Same folder, so the final rename is atomic and never crosses file systems.
    const QString staging = targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName()
        + QStringLiteral(".update");
    QFile::remove(staging);
    if (!QFile::copy(verifiedPackage, staging))
        return QStringLiteral("The update could not be written next to %1. Check that the folder is writable.")
            .arg(targetInfo.absolutePath());

    QFile staged(staging);
    const auto permissions = staged.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
        | QFileDevice::ExeOther | QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!staged.setPermissions(permissions)) {
        QFile::remove(staging);
        return QStringLiteral("The update could not be made executable.");
    }
    // QFile::rename refuses to replace; rename(2) replaces atomically.
    if (std::rename(QFile::encodeName(staging).constData(), QFile::encodeName(targetInfo.absoluteFilePath()).constData())
        != 0) {
        QFile::remove(staging);
        return QStringLiteral("The update could not replace %1.").arg(targetInfo.absoluteFilePath());
    }
    if (installedPath)
        *installedPath = targetInfo.absoluteFilePath();
    return {};
}
