#include <streams.h>

#include <QTest>

#include <vector>

using namespace streams;

class TestStreams : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void passthroughDeliversToPresentSubscribersOnly()
    {
        PassthroughSubject<int> subject;
        subject.send(1);
        std::vector<int> got;
        auto sub = subject.eraseToAnyPublisher().sink([&got](int v) { got.push_back(v); });
        subject.send(2);
        subject.send(3);
        QCOMPARE(got, (std::vector<int>{2, 3}));
    }

    void currentValueGivesTheCurrentValueFirst()
    {
        CurrentValueSubject<QString> subject(QStringLiteral("a"));
        subject.send(QStringLiteral("b"));
        QStringList got;
        auto sub = subject.eraseToAnyPublisher().sink([&got](const QString &v) { got << v; });
        subject.send(QStringLiteral("c"));
        QCOMPARE(got, (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
        QCOMPARE(subject.value(), QStringLiteral("c"));
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

QTEST_APPLESS_MAIN(TestStreams)
#include "tst_streams.moc"
