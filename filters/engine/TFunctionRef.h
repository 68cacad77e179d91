// A reference to a callable that the engine's calls take instead of a template parameter: it neither
// copies nor owns the callable, which must outlive the call it is handed to (a lambda written at the call
// site does). A default-made reference refers to nothing and tests false.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

template <class Signature>
class TFunctionRef;

template <class R, class... Args>
class TFunctionRef<R(Args...)> {
public:
    TFunctionRef() = default;

    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, TFunctionRef> && std::is_invocable_r_v<R, F&, Args...>)
        TFunctionRef(F&& f)
        : m_callable(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          m_call([](void* callable, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(callable))(std::forward<Args>(args)...);
          }) {}

    explicit operator bool() const { return m_call != nullptr; }
    R operator()(Args... args) const { return m_call(m_callable, std::forward<Args>(args)...); }

private:
    void* m_callable = nullptr;
    R (*m_call)(void*, Args...) = nullptr;
};
