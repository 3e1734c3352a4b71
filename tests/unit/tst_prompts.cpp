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

} // namespace

class TestPrompts : public QObject
{
    Q_OBJECT

private:
    AnalyticsStandIn m_ingest;
    mixpanel::MixpanelInstance *m_analytics = nullptr;

    qsizetype m_delivered = 0;
    static QString name(const QJsonObject &event) { return event.value(QLatin1String("event")).toString(); }
    static QJsonObject props(const QJsonObject &event) { return event.value(QLatin1String("properties")).toObject(); }

    static void keyUp(HotkeyListener &listener, const KeyboardShortcuts::Name &name, TriggeredKeyboardShortcut kind,
                      const char *event)
    {
        listener.keyUp(name, kind, QStringLiteral("keyboardShortcutTriggered") + QLatin1String(event));
    }

    // The events that reached the analytics service since the last call.
    QList<QJsonObject> deliveredEvents()
    {
        const qsizetype before = m_delivered;
        m_analytics->flush();
        if (!QTest::qWaitFor([this] { return m_analytics->queuedEventCount() == 0 && !m_analytics->isFlushing(); }, 5000))
            qWarning("the analytics queue did not drain");
        const QList<QJsonObject> all = m_ingest.acceptedEvents();
        m_delivered = all.size();
        QList<QJsonObject> events;
        for (qsizetype i = before; i < all.size(); ++i)
            if (!name(all[i]).startsWith(u'$'))
                events << all[i];
        return events;
    }


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

        keyUp(*listener, ShortcutNames::rephrase(), TriggeredKeyboardShortcut::rephrase, "Rephrase");
        keyUp(*listener, ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix, "FixTypo");
        keyUp(*listener, ShortcutNames::floatingMenu(), TriggeredKeyboardShortcut::floatingMenu, "FloatingMenu");

        // Delivered during the key-up itself; the menu shortcut is no prompt.
        QCOMPARE(prompts, (QList<Prompt>{Prompt::rephrase(), Prompt::typoFix()}));
        QCOMPARE(hotkeys, (QList<TriggeredKeyboardShortcut>{TriggeredKeyboardShortcut::rephrase,
                                                            TriggeredKeyboardShortcut::typoFix,
                                                            TriggeredKeyboardShortcut::floatingMenu}));

        const auto events = deliveredEvents();
        QCOMPARE(events.size(), 3);
        const QStringList expected{QStringLiteral("Rephrase Ctrl+Alt+R"), QStringLiteral("FixTypo Ctrl+Alt+F"),
                                   QStringLiteral("FloatingMenu Ctrl+Alt+O")};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(name(events[i]).remove(QStringLiteral("keyboardShortcutTriggered")) + u' '
                         + props(events[i]).value(QLatin1String("key")).toString(),
                     expected[i]);

        // A shortcut without keys records no key property.
        KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::typoFix());
        keyUp(*listener, ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix, "FixTypo");
        KeyboardShortcuts::reset(ShortcutNames::typoFix());
        const auto keyless = deliveredEvents();
        QCOMPARE(keyless.size(), 1);
        QVERIFY(!props(keyless[0]).contains(QLatin1String("key")));
    }

    void menuPromptsWaitAndShortcutsOvertakeThem()
    {
        auto executor = Resolver::main().resolve<PromptExecution>();
        auto listener = std::static_pointer_cast<HotkeyListener>(Resolver::main().resolve<HotkeyListening>());
        QElapsedTimer clock;
        QList<std::pair<Prompt, qint64>> received;
        auto sub = executor->promptPublisher().sink([&](const Prompt &p) { received.append({p, clock.elapsed()}); });

        clock.start();
        executor->execute(Prompt::translate(QStringLiteral("Deutsch")));
        QTest::qWait(50);
        keyUp(*listener, ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix, "FixTypo");
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received[0].first, Prompt::typoFix());
        QCOMPARE(received[1].first, Prompt::translate(QStringLiteral("Deutsch")));
        QVERIFY2(received[1].second >= 195, qPrintable(QString::number(received[1].second)));
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
        // Rephrase always carries customPrompt, empty when there is none; the others never.
        const QList<QJsonObject> expected{
            {{QStringLiteral("prompt"), QStringLiteral("rephrase")}, {QStringLiteral("customPrompt"), QString()}},
            {{QStringLiteral("prompt"), QStringLiteral("rephrase")}, {QStringLiteral("customPrompt"), QStringLiteral("shorter")}},
            {{QStringLiteral("prompt"), QStringLiteral("translate")}, {QStringLiteral("language"), QStringLiteral("fran\u00e7ais")}},
            {{QStringLiteral("prompt"), QStringLiteral("typoFix")}}};
        for (int i = 0; i < 4; ++i) {
            QJsonObject mine;
            for (const QString &key : {QStringLiteral("prompt"), QStringLiteral("customPrompt"), QStringLiteral("language")})
                if (props(events[i]).contains(key))
                    mine.insert(key, props(events[i]).value(key));
            QCOMPARE(mine, expected[i]);
        }

        // A second subscriber builds a chain of its own and records its own events.
        auto second = executor->promptPublisher().sink([&secondCount](const Prompt &) { ++secondCount; });
        executor->execute(Prompt::typoFix());
        QTRY_COMPARE(secondCount, 1);
        QCOMPARE(firstCount, 5);
        QCOMPARE(deliveredEvents().size(), 2);
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
