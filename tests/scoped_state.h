// Process-wide state a test changes, put back when the test's scope ends:
// also when a failed ASSERT leaves it early, so that one failure neither
// crashes the program nor changes what later tests see.
#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

// Keeps a variable's value and restores it on destruction; the second
// constructor also sets a new value for the scope.
template <typename T>
class Restore {
public:
    explicit Restore(T& value) : m_value(value), m_saved(value) {}
    template <typename U>
    Restore(T& value, U&& replacement) : Restore(value)
    {
        m_value = std::forward<U>(replacement);
    }
    ~Restore() { m_value = std::move(m_saved); }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

private:
    T& m_value;
    T m_saved;
};

template <typename T, typename U>
Restore(T&, U&&) -> Restore<T>;

// Runs an undo action on destruction, for switches that have no getter.
class OnExit {
public:
    explicit OnExit(std::function<void()> undo) : m_undo(std::move(undo)) {}
    ~OnExit()
    {
        if (m_undo)
            m_undo();
    }
    OnExit(const OnExit&) = delete;
    OnExit& operator=(const OnExit&) = delete;

private:
    std::function<void()> m_undo;
};

// An environment variable set (or, with null, removed) for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_saved = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_saved)
            setenv(m_name.c_str(), m_saved->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};

} // namespace testsupport
