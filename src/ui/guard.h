#pragma once

// The one place where the windows' handlers are kept from letting an error out.

#include <functional>
#include <type_traits>
#include <utility>

namespace ferry {

// Runs one event handler. An error it raises ends the handler and goes to the application's
// error display; nothing is ever let out to Qt's event loop.
void RunGuarded(const std::function<void()>& handler) noexcept;

// Calls a handler with the signal's arguments, or with none when it takes none. A template
// of its own, so the call it does not make is never compiled for the handler's type.
template <class F, class... A> void InvokeHandler(const F& handler, A&&... args) {
    if constexpr (std::is_invocable_v<const F&, A...>)
        handler(std::forward<A>(args)...);
    else
        handler();
}

// Wraps a handler for connect(): every handler the windows connect goes through this, so
// the catching is done in this one place and nowhere else. The handler takes the signal's
// arguments, or none when it has no use for them.
template <class F> auto Guarded(F handler) {
    // The constraint lets connect() probe which argument counts the wrapper takes without
    // instantiating a call the handler cannot accept.
    return [handler = std::move(handler)](auto&&... args) requires(
        std::is_invocable_v<const F&, decltype(args)...> || std::is_invocable_v<const F&>) {
        RunGuarded([&] { InvokeHandler(handler, std::forward<decltype(args)>(args)...); });
    };
}

} // namespace ferry
