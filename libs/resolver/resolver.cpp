#include "resolver.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

Resolver &Resolver::main()
{
    static Resolver instance;
    return instance;
}

void Resolver::setRegistrationRoutine(RegistrationRoutine routine)
{
    std::lock_guard lock(m_mutex);
    m_routine = std::move(routine);
}

void Resolver::addAlias(std::type_index interface, std::type_index target, Caster cast)
{
    std::lock_guard lock(m_mutex);
    m_aliases.insert_or_assign(interface, Alias{target, std::move(cast)});
}

void Resolver::setScope(std::type_index key, Scope scope)
{
    std::lock_guard lock(m_mutex);
    m_registrations.at(key).scope = scope;
}

void Resolver::reset()
{
    // Instances are released outside the lock: their destructors may resolve.
    std::unordered_map<std::type_index, Registration> old;
    {
        std::lock_guard lock(m_mutex);
        old.swap(m_registrations);
        m_aliases.clear();
        m_registered = false;
    }
}

std::shared_ptr<void> Resolver::resolveErased(std::type_index requested)
{
    std::lock_guard lock(m_mutex);
    if (!m_registered) {
        m_registered = true;
        if (m_routine)
            m_routine(*this);
    }

    if (auto it = m_registrations.find(requested); it != m_registrations.end())
        return instanceOf(it->second);

    if (auto alias = m_aliases.find(requested); alias != m_aliases.end()) {
        auto target = m_registrations.find(alias->second.target);
        if (target != m_registrations.end()) {
            // Copy the caster: the factory may register and rehash the maps.
            Caster cast = alias->second.cast;
            return cast(instanceOf(target->second));
        }
    }
    unregistered(requested);
}

std::shared_ptr<void> Resolver::instanceOf(Registration &reg)
{
    switch (reg.scope) {
    case Scope::Application:
        if (!reg.kept)
            reg.kept = reg.factory();
        return reg.kept;
    case Scope::Shared:
        if (auto alive = reg.watched.lock())
            return alive;
        {
            auto made = reg.factory();
            reg.watched = made;
            return made;
        }
    case Scope::Default:
        break;
    }
    return reg.factory();
}

void Resolver::unregistered(std::type_index requested)
{
    int status = 0;
    char *demangled = abi::__cxa_demangle(requested.name(), nullptr, nullptr, &status);
    const std::string name = (status == 0 && demangled) ? demangled : requested.name();
    std::free(demangled);
    std::fprintf(stderr, "Resolver: no registration for %s; the program cannot go on without it\n",
                 name.c_str());
    std::fflush(stderr);
    std::abort();
}
