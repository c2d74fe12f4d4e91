// The mail password in a real Secret Service (gnome-keyring-daemon in a private D-Bus session,
// started by scripts/with-secret-service for this test).
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

#include "keyring/secret_service_password_source.h"
#include "mail/notification.h"
#include "mail/password_source.h"

namespace ferry {
namespace {

TEST(SecretService, StoreReadReplaceAndRemove) {
    if (!std::getenv("FERRY_SECRET_SERVICE")) {
        const char* why = std::getenv("FERRY_SECRET_SERVICE_PROBLEM");
        GTEST_SKIP() << "no Secret Service to test against: "
                     << (why ? why : "run through scripts/with-secret-service");
    }
    auto store = std::make_shared<TSecretServicePasswordSource>();
    const std::string server = "smtp.example.test";
    EXPECT_FALSE(store->Read(server, "ann").has_value());

    store->Store(server, "ann", "first pässword");
    EXPECT_EQ(store->Read(server, "ann").value_or("<none>"), "first pässword");
    store->Store(server, "ann", "second");
    EXPECT_EQ(store->Read(server, "ann").value_or("<none>"), "second");

    // Items are kept apart by server and by user.
    store->Store(server, "bob", "bobs");
    store->Store("other.test", "ann", "elsewhere");
    EXPECT_EQ(store->Read(server, "ann").value_or("<none>"), "second");
    EXPECT_EQ(store->Read(server, "bob").value_or("<none>"), "bobs");
    EXPECT_EQ(store->Read("other.test", "ann").value_or("<none>"), "elsewhere");

    EXPECT_TRUE(store->Remove(server, "ann"));
    EXPECT_FALSE(store->Read(server, "ann").has_value());
    EXPECT_FALSE(store->Remove(server, "ann"));
    EXPECT_EQ(store->Read(server, "bob").value_or("<none>"), "bobs");

    // What the notification sender gets through the interface.
    SetMailPasswordSource(store);
    EXPECT_EQ(LookUpMailPassword(server, "bob"), "bobs");
    EXPECT_EQ(LookUpMailPassword(server, "ann"), "");
    SetMailPasswordSource(nullptr);
    EXPECT_EQ(LookUpMailPassword(server, "bob"), "");
}

TEST(NoSecretService, AnUnreachableServiceIsAnErrorNotAMissingPassword) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ferry-test-bus", 1);
    unsetenv("DISPLAY"); // no autolaunch of a bus
    auto store = std::make_shared<TSecretServicePasswordSource>();
    EXPECT_THROW(store->Read("smtp.example.test", "ann"), std::runtime_error);
    EXPECT_THROW(store->Store("smtp.example.test", "ann", "x"), std::runtime_error);
    // The sender treats it as no password; the sign-in then says that none is stored.
    SetMailPasswordSource(store);
    EXPECT_EQ(LookUpMailPassword("smtp.example.test", "ann"), "");
    SetMailPasswordSource(nullptr);
}

} // namespace
} // namespace ferry
