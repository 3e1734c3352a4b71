#include <streams.h>

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <vector>

using namespace streams;

class TestStreams : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void subjectsDeliverFromSubscriptionOn()
    {
        PassthroughSubject<int> passthrough;
        passthrough.send(1);
        std::vector<int> got;
        auto sub = passthrough.eraseToAnyPublisher().sink([&got](int v) { got.push_back(v); });
        passthrough.send(2);
        QCOMPARE(got, (std::vector<int>{2}));

        // The current value first, then what follows.
        CurrentValueSubject<int> current(10);
        current.send(11);
        auto sub2 = current.eraseToAnyPublisher().sink([&got](int v) { got.push_back(v); });
        current.send(12);
        QCOMPARE(got, (std::vector<int>{2, 11, 12}));
        QCOMPARE(current.value(), 12);
    }

    void cancellingEndsTheSubscription()
    {
        PassthroughSubject<int> subject;
        int count = 0;
        {
            Cancellables set;
            subject.sink([&count](int) { ++count; }).store(set);
            subject.send(1);
        } // the set goes, and with it the subscription
        subject.send(2);
        QCOMPARE(count, 1);

        auto sub = subject.sink([&count](int) { ++count; });
        sub.cancel();
        subject.send(3);
        QCOMPARE(count, 1);

        // Move-assigning over a live subscription ends the old one.
        AnyCancellable slot = subject.sink([&count](int) { count += 10; });
        slot = subject.sink([&count](int) { count += 100; });
        subject.send(4);
        QCOMPARE(count, 101);
    }

    void subscribersMayCancelAndSubscribeWhileBeingDelivered()
    {
        PassthroughSubject<int> subject;
        std::vector<int> got;
        AnyCancellable second;
        AnyCancellable late;
        AnyCancellable first = subject.sink([&](int v) {
            got.push_back(v);
            second.cancel(); // a subscriber later in the list
            if (!late)
                late = subject.sink([&got](int w) { got.push_back(100 + w); });
        });
        second = subject.sink([&got](int v) { got.push_back(-v); });
        subject.send(1);
        subject.send(2);
        // The cancelled one saw nothing; the one added during delivery starts with the next value.
        QCOMPARE(got, (std::vector<int>{1, 2, 102}));
    }

    void currentValueSubscriberMaySendWhileReceivingTheCurrentValue()
    {
        CurrentValueSubject<int> subject(0);
        std::vector<int> got;
        auto sub = subject.sink([&](int v) {
            got.push_back(v);
            if (v == 0)
                subject.send(1);
        });
        QCOMPARE(got, (std::vector<int>{0, 1}));
        QCOMPARE(subject.value(), 1);
    }

    void operatorsTransformPerSubscription()
    {
        PassthroughSubject<int> subject;
        int seen = 0;
        auto chain = subject.eraseToAnyPublisher()
                         .handleEvents([&seen](int) { ++seen; })
                         .filter([](int v) { return v % 2 == 0; })
                         .compactMap([](int v) { return v > 2 ? std::optional<QString>(QString::number(v)) : std::nullopt; })
                         .map([](const QString &v) { return v + QStringLiteral("!"); });
        QStringList got;
        auto first = chain.sink([&got](const QString &v) { got << v; });
        auto second = chain.sink([&got](const QString &v) { got << v; });
        for (int v : {1, 2, 3, 4, 6})
            subject.send(v);
        // Every subscription runs the whole chain, its side effects included.
        QCOMPARE(seen, 10);
        QCOMPARE(got, QString::fromLatin1("4! 4! 6! 6!").split(u' '));
        second.cancel();
        subject.send(8);
        QCOMPARE(seen, 11);
        QCOMPARE(got.size(), 5);

        // merge keeps the order of sending across its sources.
        PassthroughSubject<int> other;
        std::vector<int> merged;
        auto sub = merge(subject.eraseToAnyPublisher(), other.eraseToAnyPublisher()).sink([&merged](int v) { merged.push_back(v); });
        subject.send(1);
        other.send(2);
        subject.send(3);
        sub.cancel();
        other.send(4);
        QCOMPARE(merged, (std::vector<int>{1, 2, 3}));
    }

    void delayDeliversLaterOnTheMainThread()
    {
        PassthroughSubject<int> subject;
        std::vector<int> got;
        QThread *thread = nullptr;
        QElapsedTimer clock;
        qint64 arrivedAt = -1;
        auto sub = subject.eraseToAnyPublisher().delay(std::chrono::milliseconds(200)).sink([&](int v) {
            got.push_back(v);
            thread = QThread::currentThread();
            arrivedAt = clock.elapsed();
        });
        clock.start();
        std::unique_ptr<QThread> sender(QThread::create([&subject] { subject.send(7); }));
        sender->start();
        QVERIFY(sender->wait(2000));
        QVERIFY(got.empty());
        QTRY_COMPARE(got, std::vector<int>{7});
        QCOMPARE(thread, QThread::currentThread());
        QVERIFY2(arrivedAt >= 195, qPrintable(QString::number(arrivedAt)));
    }

    void cancelledDelayDropsWhatIsOnItsWay()
    {
        PassthroughSubject<int> subject;
        int got = 0;
        auto sub = subject.eraseToAnyPublisher().delay(std::chrono::milliseconds(50)).sink([&got](int) { ++got; });
        subject.send(1);
        sub.cancel();
        QTest::qWait(200);
        QCOMPARE(got, 0);

        // receiveOnMain never delivers during the send itself.
        auto onMain = subject.eraseToAnyPublisher().receiveOnMain().sink([&got](int) { ++got; });
        subject.send(2);
        QCOMPARE(got, 0);
        QTRY_COMPARE(got, 1);
    }

    void publisherOutlivingItsSubjectIsSilent()
    {
        AnyPublisher<int> publisher;
        AnyCancellable sub;
        {
            PassthroughSubject<int> subject;
            publisher = subject.eraseToAnyPublisher();
            sub = publisher.sink([](int) { QFAIL("no value may arrive"); });
        }
        auto after = publisher.sink([](int) { QFAIL("no value may arrive"); });
        sub.cancel(); // cancelling after the subject went is harmless
    }
};

QTEST_GUILESS_MAIN(TestStreams)
#include "tst_streams.moc"
