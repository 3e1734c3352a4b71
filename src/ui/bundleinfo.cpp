#include "bundleinfo.h"

#include <buildconfig.h>

QString BundleInfo::shortVersion()
{
    return QString::fromUtf8(BuildConfig::kShortVersion);
}

QString BundleInfo::buildNumber()
{
    return QString::fromUtf8(BuildConfig::kBuildNumber);
}

QString BundleInfo::versionLine(const QString &shortVersion, const QString &buildNumber)
{
    return QLatin1String("v") + shortVersion + QLatin1String(" (") + buildNumber + QLatin1Char(')');
}
