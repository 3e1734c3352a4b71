#include <applicationstateobserver.h>

#include <QElapsedTimer>
#include <QTest>

#include <vector>

namespace {

// Notes every state of an observer with the time it arrived.
struct Recorder
{
    struct Recorded { ApplicationState state; qint64 atMs; };
    explicit Recorder(ApplicationStateObservable &observable)
        : sub(observable.applicationStatePublisher().sink(
              [this](const ApplicationState &s) { states.push_back({s, clock.elapsed()}); }))
    {
    }
    QElapsedTimer clock = [] { QElapsedTimer c; c.start(); return c; }();
    std::vector<Recorded> states;
    streams::AnyCancellable sub;
};

} // namespace

class TestApplicationState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transientStatesReturnToRestAndRestingOnesScheduleNothing()
    {
        struct Case
        {
            ApplicationState state;
            ApplicationState rest;
        };
        const std::vector<Case> transient = {
            {ApplicationState::success(), ApplicationState::idle()},
            {ApplicationState::error(ApplicationStateError::ApiError), ApplicationState::idle()},
            {ApplicationState::error(ApplicationStateError::AppRequiresUpdate), ApplicationState::idle()},
            {ApplicationState::error(ApplicationStateError::SessionExpired), ApplicationState::unauthenticated()},
        };
        // All cases run side by side, each on an observer of its own.
        std::vector<std::shared_ptr<ApplicationStateObserver>> observers;
        std::vector<std::unique_ptr<Recorder>> recorders;
        for (const auto &c : transient) {
            observers.push_back(std::make_shared<ApplicationStateObserver>());
            recorders.push_back(std::make_unique<Recorder>(*observers.back()));
            QCOMPARE(recorders.back()->states.at(0).state, ApplicationState::idle()); // given at once
            observers.back()->updateState(c.state);
        }
        auto resting = std::make_shared<ApplicationStateObserver>();
        Recorder restingRecorder(*resting);
        for (auto s : {ApplicationState::inProgress(), ApplicationState::unauthenticated(), ApplicationState::idle(),
                       ApplicationState::inProgress()})
            resting->updateState(s);

        for (std::size_t i = 0; i < transient.size(); ++i) {
            const auto &states = recorders[i]->states;
            QTRY_COMPARE_WITH_TIMEOUT(states.size(), 3u, 6000);
            QCOMPARE(states[1].state, transient[i].state);
            QCOMPARE(states[2].state, transient[i].rest);
            const qint64 waited = states[2].atMs - states[1].atMs;
            QVERIFY2(waited >= 2990, qPrintable(QString::number(waited)));
        }
        // A return schedules nothing further, and resting states never scheduled anything.
        QTest::qWait(3300);
        for (const auto &recorder : recorders)
            QCOMPARE(recorder->states.size(), 3u);
        QCOMPARE(restingRecorder.states.size(), 5u);
        QCOMPARE(restingRecorder.states.back().state, ApplicationState::inProgress());
    }

    void eachSuccessReturnsOnItsOwnAndIsNeverCancelled()
    {
        auto observer = std::make_shared<ApplicationStateObserver>();
        Recorder recorder(*observer);
        observer->updateState(ApplicationState::success());
        QTest::qWait(1000);
        observer->updateState(ApplicationState::success());
        QTest::qWait(1000);
        // A new action is running, yet both successes return to idle in turn.
        observer->updateState(ApplicationState::inProgress());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.states.size(), 6u, 4000);
        QCOMPARE(recorder.states[4].state, ApplicationState::idle());
        QCOMPARE(recorder.states[5].state, ApplicationState::idle());
        QVERIFY(recorder.states[4].atMs < 3800);
        QVERIFY(recorder.states[5].atMs - recorder.states[4].atMs >= 900);
    }

    void pendingReturnDoesNotKeepTheObserverAlive()
    {
        auto observer = std::make_shared<ApplicationStateObserver>();
        std::weak_ptr<ApplicationStateObserver> watch = observer;
        observer->updateState(ApplicationState::error(ApplicationStateError::SessionExpired));
        observer.reset();
        QVERIFY(watch.expired());
        QTest::qWait(3300); // the timer fires against nothing and must not crash
    }

    void returnArmedFromAnotherThreadRunsOnTheMainThread()
    {
        auto observer = std::make_shared<ApplicationStateObserver>();
        QThread *deliveredOn = nullptr;
        auto sub = observer->applicationStatePublisher().sink([&deliveredOn](const ApplicationState &s) {
            if (s == ApplicationState::idle())
                deliveredOn = QThread::currentThread();
        });
        deliveredOn = nullptr;
        std::unique_ptr<QThread> worker(QThread::create([observer] { observer->scheduleState(ApplicationState::idle()); }));
        worker->start();
        QVERIFY(worker->wait(2000));
        QTRY_VERIFY_WITH_TIMEOUT(deliveredOn != nullptr, 5000);
        QCOMPARE(deliveredOn, QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestApplicationState)
#include "tst_applicationstate.moc"
