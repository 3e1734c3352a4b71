#pragma once

// Typed publish/subscribe streams: subjects that services keep, read-only
// publishers they hand out, and cancellables that end a subscription when
// they are destroyed. Values are delivered synchronously on the sender's
// thread; operators that change the thread say so.

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <optional>
#include <utility>
#include <vector>

namespace streams {

// The value of a stream that only signals that something happened.
struct Void
{
    friend constexpr bool operator==(Void, Void) { return true; }
};

// Ends its subscription when cancelled or destroyed.
class AnyCancellable
{
public:
    AnyCancellable() = default;
    explicit AnyCancellable(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    AnyCancellable(AnyCancellable &&other) noexcept : m_cancel(std::exchange(other.m_cancel, {})) {}
    AnyCancellable &operator=(AnyCancellable &&other) noexcept
    {
        if (this != &other) {
            cancel();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }
    AnyCancellable(const AnyCancellable &) = delete;
    AnyCancellable &operator=(const AnyCancellable &) = delete;
    ~AnyCancellable() { cancel(); }

    void cancel()
    {
        if (auto c = std::exchange(m_cancel, {}))
            c();
    }

    // True while the subscription is live.
    explicit operator bool() const { return bool(m_cancel); }

    // Keeps this subscription alive as long as the owner's set.
    void store(std::vector<AnyCancellable> &set) { set.push_back(std::move(*this)); }

private:
    std::function<void()> m_cancel;
};

// The subscriptions an owner keeps; destroying the set ends them all.
using Cancellables = std::vector<AnyCancellable>;

namespace detail {

// The subscriber list shared by a subject and the cancellables of its subscribers.
template<class T>
class SubscriberList : public std::enable_shared_from_this<SubscriberList<T>>
{
public:
    struct Entry
    {
        std::function<void(const T &)> onValue;
        bool active = true;
    };

    AnyCancellable add(std::function<void(const T &)> onValue)
    {
        auto entry = std::make_shared<Entry>(Entry{std::move(onValue)});
        m_entries.push_back(entry);
        std::weak_ptr<SubscriberList> weakList = this->shared_from_this();
        std::weak_ptr<Entry> weakEntry = entry;
        return AnyCancellable([weakList, weakEntry] {
            auto e = weakEntry.lock();
            if (!e)
                return;
            e->active = false;
            if (auto list = weakList.lock())
                list->remove(e.get());
        });
    }

    void deliver(const T &value)
    {
        // A snapshot: subscribers may subscribe or cancel while we deliver.
        const auto snapshot = m_entries;
        for (const auto &entry : snapshot) {
            if (entry->active)
                entry->onValue(value);
        }
    }

    bool empty() const { return m_entries.empty(); }

private:
    void remove(const Entry *e)
    {
        std::erase_if(m_entries, [e](const auto &p) { return p.get() == e; });
    }

    std::vector<std::shared_ptr<Entry>> m_entries;
};

// Runs fn on the main thread after the delay (zero: on the next turn of the loop).
inline void runOnMainAfter(std::chrono::milliseconds delay, std::function<void()> fn)
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    auto arm = [app, delay, fn = std::move(fn)] { QTimer::singleShot(delay, Qt::PreciseTimer, app, fn); };
    if (QThread::currentThread() == app->thread())
        arm();
    else
        QMetaObject::invokeMethod(app, arm, Qt::QueuedConnection);
}

} // namespace detail

// A read-only stream of T. Copies share the same source.
template<class T>
class AnyPublisher
{
public:
    using Subscribe = std::function<AnyCancellable(std::function<void(const T &)>)>;

    AnyPublisher() = default;
    explicit AnyPublisher(Subscribe subscribe) : m_subscribe(std::move(subscribe)) {}

    // Subscribes; the subscription lasts as long as the returned cancellable.
    [[nodiscard]] AnyCancellable sink(std::function<void(const T &)> onValue) const
    {
        if (!m_subscribe)
            return {};
        return m_subscribe(std::move(onValue));
    }

    // Each value transformed by f.
    template<class F>
    auto map(F f) const
    {
        using U = std::decay_t<std::invoke_result_t<F &, const T &>>;
        return AnyPublisher<U>([upstream = *this, f](std::function<void(const U &)> down) {
            return upstream.sink([f, down](const T &v) mutable { down(f(v)); });
        });
    }

    // Only the values for which pred holds.
    template<class F>
    AnyPublisher<T> filter(F pred) const
    {
        return AnyPublisher<T>([upstream = *this, pred](std::function<void(const T &)> down) {
            return upstream.sink([pred, down](const T &v) mutable {
                if (pred(v))
                    down(v);
            });
        });
    }

    // f gives an optional; empty results are dropped.
    template<class F>
    auto compactMap(F f) const
    {
        using Optional = std::decay_t<std::invoke_result_t<F &, const T &>>;
        using U = typename Optional::value_type;
        return AnyPublisher<U>([upstream = *this, f](std::function<void(const U &)> down) {
            return upstream.sink([f, down](const T &v) mutable {
                if (auto out = f(v))
                    down(*out);
            });
        });
    }

    // Runs onOutput for each value as it passes, before the subscriber sees it.
    AnyPublisher<T> handleEvents(std::function<void(const T &)> onOutput) const
    {
        return AnyPublisher<T>([upstream = *this, onOutput](std::function<void(const T &)> down) {
            return upstream.sink([onOutput, down](const T &v) {
                onOutput(v);
                down(v);
            });
        });
    }

    // Runs onSubscribe when a subscriber arrives (before the upstream is
    // subscribed), and onOutput for each value before the subscriber sees it.
    AnyPublisher<T> handleEvents(std::function<void()> onSubscribe, std::function<void(const T &)> onOutput) const
    {
        return AnyPublisher<T>([upstream = *this, onSubscribe, onOutput](std::function<void(const T &)> down) {
            if (onSubscribe)
                onSubscribe();
            return upstream.sink([onOutput, down](const T &v) {
                if (onOutput)
                    onOutput(v);
                down(v);
            });
        });
    }

    // Each value delivered on the main thread after the delay. A cancelled
    // subscription receives nothing that was still on its way.
    AnyPublisher<T> delay(std::chrono::milliseconds by) const
    {
        return AnyPublisher<T>([upstream = *this, by](std::function<void(const T &)> down) {
            auto alive = std::make_shared<bool>(true);
            auto inner = std::make_shared<AnyCancellable>(upstream.sink([alive, down, by](const T &v) {
                detail::runOnMainAfter(by, [alive, down, v] {
                    if (*alive)
                        down(v);
                });
            }));
            return AnyCancellable([alive, inner] {
                *alive = false;
                inner->cancel();
            });
        });
    }

    // Each value delivered on the main thread on a later turn of its event loop.
    AnyPublisher<T> receiveOnMain() const { return delay(std::chrono::milliseconds(0)); }

private:
    Subscribe m_subscribe;
};

// The values of both publishers, in the order they are sent.
template<class T>
AnyPublisher<T> merge(const AnyPublisher<T> &a, const AnyPublisher<T> &b)
{
    return AnyPublisher<T>([a, b](std::function<void(const T &)> down) {
        auto first = std::make_shared<AnyCancellable>(a.sink(down));
        auto second = std::make_shared<AnyCancellable>(b.sink(down));
        return AnyCancellable([first, second] {
            first->cancel();
            second->cancel();
        });
    });
}

// Pairs of the latest value of each side, sent whenever either side sends,
// once both have sent.
template<class A, class B>
AnyPublisher<std::pair<A, B>> combineLatest(const AnyPublisher<A> &a, const AnyPublisher<B> &b)
{
    using Pair = std::pair<A, B>;
    return AnyPublisher<Pair>([a, b](std::function<void(const Pair &)> down) {
        struct Latest
        {
            std::optional<A> a;
            std::optional<B> b;
        };
        auto latest = std::make_shared<Latest>();
        auto first = std::make_shared<AnyCancellable>(a.sink([latest, down](const A &v) {
            latest->a = v;
            if (latest->b)
                down(Pair(*latest->a, *latest->b));
        }));
        auto second = std::make_shared<AnyCancellable>(b.sink([latest, down](const B &v) {
            latest->b = v;
            if (latest->a)
                down(Pair(*latest->a, *latest->b));
        }));
        return AnyCancellable([first, second] {
            first->cancel();
            second->cancel();
        });
    });
}

// The values of the newest inner publisher only: each new one ends the
// subscription to the one before, whose later values are never seen.
template<class T>
AnyPublisher<T> switchToLatest(const AnyPublisher<AnyPublisher<T>> &upstream)
{
    return AnyPublisher<T>([upstream](std::function<void(const T &)> down) {
        auto inner = std::make_shared<AnyCancellable>();
        auto outer = std::make_shared<AnyCancellable>(upstream.sink([inner, down](const AnyPublisher<T> &next) {
            inner->cancel();
            *inner = next.sink(down);
        }));
        return AnyCancellable([inner, outer] {
            outer->cancel();
            inner->cancel();
        });
    });
}

// Nothing happens until a subscriber arrives; then attempt runs once for it
// and may fulfil its promise once, from any later turn of the loop. A
// cancelled subscriber receives nothing.
template<class T>
AnyPublisher<T> deferredFuture(std::function<void(std::function<void(const T &)> promise)> attempt)
{
    return AnyPublisher<T>([attempt](std::function<void(const T &)> down) {
        auto alive = std::make_shared<bool>(true);
        attempt([alive, down](const T &value) {
            if (*alive) {
                *alive = false;
                down(value);
            }
        });
        return AnyCancellable([alive] { *alive = false; });
    });
}

// Sends each value to the subscribers present at that moment.
template<class T>
class PassthroughSubject
{
public:
    PassthroughSubject() : m_list(std::make_shared<detail::SubscriberList<T>>()) {}

    void send(const T &value) { m_list->deliver(value); }

    [[nodiscard]] AnyCancellable sink(std::function<void(const T &)> onValue) const
    {
        return m_list->add(std::move(onValue));
    }

    AnyPublisher<T> eraseToAnyPublisher() const
    {
        std::weak_ptr<detail::SubscriberList<T>> weak = m_list;
        return AnyPublisher<T>([weak](std::function<void(const T &)> onValue) {
            if (auto list = weak.lock())
                return list->add(std::move(onValue));
            return AnyCancellable();
        });
    }

private:
    std::shared_ptr<detail::SubscriberList<T>> m_list;
};

// Holds a current value: a new subscriber receives it at once, then every later value.
template<class T>
class CurrentValueSubject
{
public:
    explicit CurrentValueSubject(T initial)
        : m_state(std::make_shared<State>(std::move(initial)))
    {
    }

    const T &value() const { return m_state->value; }

    void send(const T &value)
    {
        m_state->value = value;
        m_state->list->deliver(value);
    }

    [[nodiscard]] AnyCancellable sink(std::function<void(const T &)> onValue) const
    {
        return subscribe(m_state, std::move(onValue));
    }

    AnyPublisher<T> eraseToAnyPublisher() const
    {
        std::weak_ptr<State> weak = m_state;
        return AnyPublisher<T>([weak](std::function<void(const T &)> onValue) {
            if (auto state = weak.lock())
                return subscribe(state, std::move(onValue));
            return AnyCancellable();
        });
    }

private:
    struct State
    {
        explicit State(T v) : value(std::move(v)) {}
        T value;
        std::shared_ptr<detail::SubscriberList<T>> list = std::make_shared<detail::SubscriberList<T>>();
    };

    static AnyCancellable subscribe(const std::shared_ptr<State> &state, std::function<void(const T &)> onValue)
    {
        // Copy the value first: the subscriber may send a new one while handling it.
        const T current = state->value;
        auto cancellable = state->list->add(onValue);
        onValue(current);
        return cancellable;
    }

    std::shared_ptr<State> m_state;
};

} // namespace streams
