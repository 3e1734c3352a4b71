#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>

class AppRouting;

// The onboarding view's way to the window router, resolved on first use so
// that a view can be made before the router exists.
class OnboardingWindowManager : public QObject
{
    Q_OBJECT
    QML_ELEMENT

public:
    using QObject::QObject;

    AppRouting *appRouter();
    // "Start using": the router closes the window and lets it go.
    Q_INVOKABLE void closeOnboardingWindow();

private:
    std::shared_ptr<AppRouting> m_appRouter;
};

// The display text of the keys stored for each of the program's shortcuts,
// for the tour's badges. `revision` changes with every stored change, so a
// binding that reads it shows the new keys.
class StoredShortcuts : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(int revision READ revision NOTIFY revisionChanged)

public:
    explicit StoredShortcuts(QObject *parent = nullptr);

    int revision() const { return m_revision; }
    // "typoFix", "rephrase" or "floatingMenu"; empty when the name has no
    // keys or is none of these.
    Q_INVOKABLE static QString description(const QString &name);

Q_SIGNALS:
    void revisionChanged();

private:
    int m_revision = 0;
};
