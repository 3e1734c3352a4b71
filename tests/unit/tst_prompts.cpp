#include <analyticsstandin.h>

#include <analyticscollector.h>
#include <hotkeylistener.h>
#include <keyboardshortcuts.h>
#include <mixpanel.h>
#include <promptexecutor.h>
#include <resolver.h>
#include <shortcutnames.h>

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

namespace {

QTemporaryDir *sandbox = nullptr;

struct Received
{
    Prompt prompt;
    qint64 atMs;
};

} // namespace

class TestPrompts : public QObject
{
    Q_OBJECT

private:
    AnalyticsStandIn m_ingest;
    mixpanel::MixpanelInstance *m_analytics = nullptr;

    // The events that reached the analytics service since the last call.
    QList<QJsonObject> deliveredEvents()
    {
        const qsizetype before = m_delivered;
        m_analytics->flush();
        const bool drained = QTest::qWaitFor(
            [this] { return m_analytics->queuedEventCount() == 0 && !m_analytics->isFlushing(); }, 5000);
        if (!drained)
            qWarning("the analytics queue did not drain; the event counts below will tell");
        const QList<QJsonObject> all = m_ingest.acceptedEvents();
        m_delivered = all.size();
        QList<QJsonObject> events;
        for (qsizetype i = before; i < all.size(); ++i) {
            if (!all[i].value(QLatin1String("event")).toString().startsWith(u'$'))
                events << all[i];
        }
        return events;
    }

    static QString name(const QJsonObject &event) { return event.value(QLatin1String("event")).toString(); }
    static QJsonObject props(const QJsonObject &event) { return event.value(QLatin1String("properties")).toObject(); }

    qsizetype m_delivered = 0;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_ingest.listen());
        mixpanel::Mixpanel::Configuration configuration;
        configuration.serverUrl = m_ingest.url();
        configuration.storageDirectory = sandbox->filePath(QStringLiteral("analytics"));
        m_analytics = mixpanel::Mixpanel::initialize(QStringLiteral("00112233445566778899aabbccddeeff"),
                                                     QUuid::createUuid().toString(), false, 60, configuration);
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
                .implements<PromptExecution>()
                .scope(Resolver::Scope::Shared);
            r.register_<HotkeyListener>([] {
                 auto listener = std::make_shared<HotkeyListener>();
                 listener->listen();
                 return listener;
             })
                .implements<HotkeyListening>()
                .scope(Resolver::Scope::Shared);
            r.register_<AnalyticsCollector>([this] { return std::make_shared<AnalyticsCollector>(m_analytics); })
                .implements<AnalyticsCollecting>()
                .scope(Resolver::Scope::Application);
        });
        deliveredEvents();
    }

    void shortcutsBecomePromptsWithoutDelayOrSelectionEvent()
    {
        auto executor = Resolver::main().resolve<PromptExecution>();
        auto listener = std::static_pointer_cast<HotkeyListener>(Resolver::main().resolve<HotkeyListening>());
        QList<Prompt> prompts;
        QList<TriggeredKeyboardShortcut> hotkeys;
        auto promptSub = executor->promptPublisher().sink([&prompts](const Prompt &p) { prompts << p; });
        auto hotkeySub = listener->hotkeyPublisher().sink([&hotkeys](TriggeredKeyboardShortcut k) { hotkeys << k; });

        listener->keyUp(ShortcutNames::rephrase(), TriggeredKeyboardShortcut::rephrase,
                        QStringLiteral("keyboardShortcutTriggeredRephrase"));
        listener->keyUp(ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix,
                        QStringLiteral("keyboardShortcutTriggeredFixTypo"));
        listener->keyUp(ShortcutNames::floatingMenu(), TriggeredKeyboardShortcut::floatingMenu,
                        QStringLiteral("keyboardShortcutTriggeredFloatingMenu"));

        // Delivered during the key-up itself; the menu shortcut is no prompt.
        QCOMPARE(prompts, (QList<Prompt>{Prompt::rephrase(), Prompt::typoFix()}));
        QVERIFY(!prompts[0].customPrompt().has_value());
        QCOMPARE(hotkeys, (QList<TriggeredKeyboardShortcut>{TriggeredKeyboardShortcut::rephrase,
                                                            TriggeredKeyboardShortcut::typoFix,
                                                            TriggeredKeyboardShortcut::floatingMenu}));

        const auto events = deliveredEvents();
        QCOMPARE(events.size(), 3);
        QCOMPARE(name(events[0]), QStringLiteral("keyboardShortcutTriggeredRephrase"));
        QCOMPARE(props(events[0]).value(QLatin1String("key")).toString(), QStringLiteral("Ctrl+R"));
        QCOMPARE(name(events[1]), QStringLiteral("keyboardShortcutTriggeredFixTypo"));
        QCOMPARE(props(events[1]).value(QLatin1String("key")).toString(), QStringLiteral("Ctrl+F"));
        QCOMPARE(name(events[2]), QStringLiteral("keyboardShortcutTriggeredFloatingMenu"));
        QCOMPARE(props(events[2]).value(QLatin1String("key")).toString(), QStringLiteral("Ctrl+O"));
    }

    void shortcutWithoutKeysRecordsNoKeyProperty()
    {
        auto listener = std::static_pointer_cast<HotkeyListener>(Resolver::main().resolve<HotkeyListening>());
        KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::typoFix());
        listener->keyUp(ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix,
                        QStringLiteral("keyboardShortcutTriggeredFixTypo"));
        KeyboardShortcuts::reset(ShortcutNames::typoFix());
        const auto events = deliveredEvents();
        QCOMPARE(events.size(), 1);
        QVERIFY(!props(events[0]).contains(QLatin1String("key")));
    }

    void menuPromptsWaitAndShortcutsOvertakeThem()
    {
        auto executor = Resolver::main().resolve<PromptExecution>();
        auto listener = std::static_pointer_cast<HotkeyListener>(Resolver::main().resolve<HotkeyListening>());
        QElapsedTimer clock;
        QList<Received> received;
        auto sub = executor->promptPublisher().sink(
            [&](const Prompt &p) { received << Received{p, clock.elapsed()}; });

        clock.start();
        executor->execute(Prompt::translate(QStringLiteral("Deutsch")));
        QTest::qWait(50);
        listener->keyUp(ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix,
                        QStringLiteral("keyboardShortcutTriggeredFixTypo"));
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received[0].prompt, Prompt::typoFix());
        QCOMPARE(received[1].prompt, Prompt::translate(QStringLiteral("Deutsch")));
        QVERIFY2(received[1].atMs >= 195, qPrintable(QString::number(received[1].atMs)));
        deliveredEvents();
    }

    void promptSelectedPropertiesPerSubscription()
    {
        auto executor = Resolver::main().resolve<PromptExecution>();
        int firstCount = 0;
        int secondCount = 0;
        auto first = executor->promptPublisher().sink([&firstCount](const Prompt &) { ++firstCount; });
        executor->execute(Prompt::rephrase());
        executor->execute(Prompt::rephrase(QStringLiteral("shorter")));
        executor->execute(Prompt::translate(QStringLiteral("fran\u00e7ais")));
        executor->execute(Prompt::typoFix());
        QTRY_COMPARE(firstCount, 4);

        auto events = deliveredEvents();
        QCOMPARE(events.size(), 4);
        for (const auto &event : events)
            QCOMPARE(name(event), QStringLiteral("promptSelected"));
        QCOMPARE(props(events[0]).value(QLatin1String("prompt")).toString(), QStringLiteral("rephrase"));
        QCOMPARE(props(events[0]).value(QLatin1String("customPrompt")), QJsonValue(QString()));
        QCOMPARE(props(events[1]).value(QLatin1String("customPrompt")).toString(), QStringLiteral("shorter"));
        QCOMPARE(props(events[2]).value(QLatin1String("prompt")).toString(), QStringLiteral("translate"));
        QCOMPARE(props(events[2]).value(QLatin1String("language")).toString(), QStringLiteral("fran\u00e7ais"));
        QVERIFY(!props(events[2]).contains(QLatin1String("customPrompt")));
        QCOMPARE(props(events[3]).value(QLatin1String("prompt")).toString(), QStringLiteral("typoFix"));
        QVERIFY(!props(events[3]).contains(QLatin1String("customPrompt")));

        // A second subscriber builds a chain of its own and records its own events.
        auto second = executor->promptPublisher().sink([&secondCount](const Prompt &) { ++secondCount; });
        executor->execute(Prompt::typoFix());
        QTRY_COMPARE(secondCount, 1);
        QCOMPARE(firstCount, 5);
        QCOMPARE(deliveredEvents().size(), 2);
    }

    void promptEquality()
    {
        QCOMPARE(Prompt::rephrase(), Prompt::rephrase(std::nullopt));
        QVERIFY(Prompt::rephrase() != Prompt::rephrase(QString()));
        QVERIFY(Prompt::translate(QStringLiteral("de")) != Prompt::translate(QStringLiteral("DE")));
        QVERIFY(Prompt::typoFix() != Prompt::rephrase());
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    sandbox = &dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    QGuiApplication app(argc, argv);
    TestPrompts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_prompts.moc"
