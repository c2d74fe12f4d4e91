#pragma once

#include <functional>
#include <type_traits>
#include <utility>

namespace ferry {

// Runs one event handler. An error it raises ends the handler and goes to the application's
// error display; nothing is ever let out to Qt's event loop.
void RunGuarded(const std::function<void()>& handler) noexcept;

// Wraps a handler for connect(): every handler the windows connect goes through this, so
// the catching is done in this one place and nowhere else. The handler takes the signal's
// arguments, or none when it has no use for them.
template <class F> auto Guarded(F handler) {
    return [handler = std::move(handler)](auto&&... args) {
        RunGuarded([&] {
            if constexpr (std::is_invocable_v<const F&, decltype(args)...>)
                handler(std::forward<decltype(args)>(args)...);
            else
                handler();
        });
    };
}

} // namespace ferry
