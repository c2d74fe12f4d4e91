#pragma once

// Asking the desktop's password store without holding the windows.

#include <functional>
#include <string>

class QObject;

namespace ferry {

// What the desktop's password store said about one user's password.
struct TStoreAnswer {
    enum class TState { Asking, Stored, NotStored, Missing, Failed };
    TState State = TState::Asking;
    std::string Message; // Missing and Failed: why, in full
};

// Asks the password store on a thread of its own, so that the windows keep answering however
// long the desktop takes (one whose store is installed but cannot start held them 25 s), and
// hands the answer to `done` on the user-interface thread, unless `owner` is gone by then.
// With an empty user it only asks whether there is a store.
void AskPasswordStore(QObject* owner, const std::string& server, const std::string& user,
                      std::function<void(const TStoreAnswer&)> done);

// Runs `work` on a thread of its own while the user-interface thread goes on with its
// events (the user's input waits), then rethrows what it raised: for the store's calls that
// a handler needs done before it goes on.
void RunOffUiThread(const std::function<void()>& work);

} // namespace ferry
