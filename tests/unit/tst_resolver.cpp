#include <resolver.h>

#include <QProcess>
#include <QTest>

namespace {

class Greeting
{
public:
    virtual ~Greeting() = default;
    virtual QString text() const = 0;
};

struct Hello : Greeting
{
    Hello() { ++made; }
    QString text() const override { return QStringLiteral("hello"); }
    static inline int made = 0;
};

struct Counter
{
    Counter() { ++made; }
    static inline int made = 0;
};

struct NeverRegistered {};

// A collaborator that declares its needs as injected fields.
struct Owner
{
    explicit Owner(Resolver &r) : eager(r), lazy(r), weak(r) {}
    Injected<Counter> eager;
    LazyInjected<Greeting> lazy;
    WeakLazyInjected<Greeting> weak;
};

} // namespace

class TestResolver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Hello::made = Counter::made = 0; }

    void scopes_data()
    {
        QTest::addColumn<int>("scope");
        QTest::addColumn<bool>("sameWhileHeld");
        QTest::addColumn<bool>("sameAfterRelease");
        QTest::newRow("default") << int(Resolver::Scope::Default) << false << false;
        QTest::newRow("shared") << int(Resolver::Scope::Shared) << true << false;
        QTest::newRow("application") << int(Resolver::Scope::Application) << true << true;
    }

    void scopes()
    {
        QFETCH(int, scope);
        QFETCH(bool, sameWhileHeld);
        QFETCH(bool, sameAfterRelease);

        Resolver r;
        r.register_<Hello>([] { return std::make_shared<Hello>(); })
            .implements<Greeting>()
            .scope(Resolver::Scope(scope));

        auto first = r.resolve<Greeting>();
        // The concrete type and the interface share one registration.
        auto concrete = r.resolve<Hello>();
        QCOMPARE(static_cast<Greeting *>(concrete.get()) == first.get(), sameWhileHeld);

        const int madeBefore = Hello::made;
        first.reset();
        concrete.reset();
        auto again = r.resolve<Greeting>();
        QCOMPARE(Hello::made == madeBefore, sameAfterRelease);
        QCOMPARE(again->text(), QStringLiteral("hello"));
    }

    void registrationRoutineRunsOnceBeforeFirstResolution()
    {
        Resolver r;
        int runs = 0;
        r.setRegistrationRoutine([&runs](Resolver &res) {
            ++runs;
            res.register_<Counter>([] { return std::make_shared<Counter>(); });
        });
        QCOMPARE(runs, 0);
        r.resolve<Counter>();
        r.resolve<Counter>();
        QCOMPARE(runs, 1);
        QCOMPARE(Counter::made, 2);

        r.reset();
        r.resolve<Counter>();
        QCOMPARE(runs, 2);
    }

    void injectedFields()
    {
        Resolver r;
        r.register_<Counter>([] { return std::make_shared<Counter>(); });
        r.register_<Hello>([] { return std::make_shared<Hello>(); })
            .implements<Greeting>()
            .scope(Resolver::Scope::Shared);

        Owner owner(r);
        QCOMPARE(Counter::made, 1);
        QCOMPARE(Hello::made, 0); // lazy fields wait for their first use

        QCOMPARE(owner.lazy->text(), QStringLiteral("hello"));
        QCOMPARE(Hello::made, 1);
        // The weak field finds the instance the lazy field holds.
        QCOMPARE(owner.weak.get().get(), owner.lazy.get().get());
        QCOMPARE(Hello::made, 1);

        // A weak field alone keeps nothing alive: once the last strong holder
        // lets go, its next use resolves a new instance.
        Owner other(r);
        std::weak_ptr<Greeting> first = other.weak.get();
        owner.lazy = LazyInjected<Greeting>(r);
        QVERIFY(first.expired());
        QVERIFY(other.weak.get());
        QCOMPARE(Hello::made, 2);

        // Factories may resolve other services while they run.
        Resolver nested;
        nested.register_<Counter>([] { return std::make_shared<Counter>(); }).scope(Resolver::Scope::Application);
        nested.register_<Owner>([&nested] { return std::make_shared<Owner>(nested); });
        auto a = nested.resolve<Owner>();
        auto b = nested.resolve<Owner>();
        QVERIFY(a != b);
        QCOMPARE(a->eager.get(), b->eager.get());
    }

    void unregisteredTypeStopsTheProgramNamingIt()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--resolve-unregistered")});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QByteArray err = child.readAllStandardError();
        QVERIFY2(err.contains("NeverRegistered"), err.constData());
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--resolve-unregistered") == 0) {
        Resolver r;
        r.register_<Counter>([] { return std::make_shared<Counter>(); });
        r.resolve<NeverRegistered>();
        return 0; // not reached
    }
    QCoreApplication app(argc, argv);
    TestResolver test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resolver.moc"
