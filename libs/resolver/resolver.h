#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>

// A small service container: one factory per registered type, optionally an
// interface the same registration is also resolved as, and a scope that says
// how long a made instance is kept.
class Resolver
{
public:
    enum class Scope {
        Application, // made at the first resolution, kept for the life of the process
        Shared,      // kept only while somebody holds it (the container keeps a weak reference)
        Default,     // a new instance for each resolution
    };

    template<class T>
    class Options
    {
    public:
        // Also resolve this registration as the interface I.
        template<class I>
        Options &implements()
        {
            static_assert(std::is_base_of_v<I, T> || std::is_same_v<I, T>,
                          "a registration can only be resolved as a base of its type");
            m_resolver->addAlias(typeid(I), m_key, [](const std::shared_ptr<void> &p) {
                std::shared_ptr<I> asInterface = std::static_pointer_cast<T>(p);
                return std::shared_ptr<void>(asInterface, asInterface.get());
            });
            return *this;
        }

        Options &scope(Scope s)
        {
            m_resolver->setScope(m_key, s);
            return *this;
        }

    private:
        friend class Resolver;
        Options(Resolver *r, std::type_index key) : m_resolver(r), m_key(key) {}
        Resolver *m_resolver;
        std::type_index m_key;
    };

    using RegistrationRoutine = std::function<void(Resolver &)>;

    Resolver() = default;
    Resolver(const Resolver &) = delete;
    Resolver &operator=(const Resolver &) = delete;

    // The process-wide container that injected fields resolve from.
    static Resolver &main();

    // The routine that registers every service; it runs once, right before
    // the container's first resolution.
    void setRegistrationRoutine(RegistrationRoutine routine);

    template<class T>
    Options<T> register_(std::function<std::shared_ptr<T>()> factory)
    {
        std::lock_guard lock(m_mutex);
        const std::type_index key(typeid(T));
        Registration reg;
        reg.factory = [f = std::move(factory)]() -> std::shared_ptr<void> { return f(); };
        m_registrations.insert_or_assign(key, std::move(reg));
        m_aliases.erase(key);
        return Options<T>(this, key);
    }

    // Resolves T, either a registered type or an interface of one. An
    // unregistered type stops the program: there is no fallback.
    template<class T>
    std::shared_ptr<T> resolve()
    {
        return std::static_pointer_cast<T>(resolveErased(typeid(T)));
    }

    // True when T can be resolved (used where a caller must not stop the program).
    template<class T>
    bool isRegistered()
    {
        std::lock_guard lock(m_mutex);
        const std::type_index key(typeid(T));
        return m_registrations.count(key) || m_aliases.count(key);
    }

    // Forgets every registration and instance; the registration routine runs
    // again before the next resolution. For tests.
    void reset();

private:
    using Caster = std::function<std::shared_ptr<void>(const std::shared_ptr<void> &)>;

    struct Registration
    {
        std::function<std::shared_ptr<void>()> factory;
        Scope scope = Scope::Default;
        std::shared_ptr<void> kept;  // application scope
        std::weak_ptr<void> watched; // shared scope
    };

    struct Alias
    {
        std::type_index target;
        Caster cast;
    };

    void addAlias(std::type_index interface, std::type_index target, Caster cast);
    void setScope(std::type_index key, Scope scope);
    std::shared_ptr<void> resolveErased(std::type_index requested);
    std::shared_ptr<void> instanceOf(Registration &reg);
    [[noreturn]] static void unregistered(std::type_index requested);

    std::recursive_mutex m_mutex;
    RegistrationRoutine m_routine;
    bool m_registered = false;
    std::unordered_map<std::type_index, Registration> m_registrations;
    std::unordered_map<std::type_index, Alias> m_aliases;
};

// A field resolved when its owner is constructed.
template<class T>
class Injected
{
public:
    explicit Injected(Resolver &resolver = Resolver::main()) : m_value(resolver.template resolve<T>()) {}
    T *operator->() const { return m_value.get(); }
    T &operator*() const { return *m_value; }
    const std::shared_ptr<T> &get() const { return m_value; }

private:
    std::shared_ptr<T> m_value;
};

// A field resolved on first use, then kept.
template<class T>
class LazyInjected
{
public:
    explicit LazyInjected(Resolver &resolver = Resolver::main()) : m_resolver(&resolver) {}
    T *operator->() { return get().get(); }
    T &operator*() { return *get(); }
    const std::shared_ptr<T> &get()
    {
        if (!m_value)
            m_value = m_resolver->template resolve<T>();
        return m_value;
    }

private:
    Resolver *m_resolver;
    std::shared_ptr<T> m_value;
};

// A field resolved on first use and held weakly: once every strong holder
// let go, the next use resolves again.
template<class T>
class WeakLazyInjected
{
public:
    explicit WeakLazyInjected(Resolver &resolver = Resolver::main()) : m_resolver(&resolver) {}
    std::shared_ptr<T> get()
    {
        auto value = m_value.lock();
        if (!value) {
            value = m_resolver->template resolve<T>();
            m_value = value;
        }
        return value;
    }
    std::shared_ptr<T> operator->() { return get(); }

private:
    Resolver *m_resolver;
    std::weak_ptr<T> m_value;
};
