#pragma once

// Typed publish/subscribe streams: subjects that services keep, read-only
// publishers they hand out, and cancellables that end a subscription when
// they are destroyed. Values are delivered synchronously on the sender's
// thread; operators that change the thread say so.

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace streams {

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

private:
    Subscribe m_subscribe;
};

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
