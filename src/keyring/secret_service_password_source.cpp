#include "keyring/secret_service_password_source.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <stdexcept>

namespace ferry {

namespace {

const char kSecretsName[] = "org.freedesktop.secrets";
// A running bus answers questions about its own names at once.
const int kAskBusMs = 1000;
// A store that starts on demand has claimed its name well within this.
const int kStartMs = 3000;
// A store found missing is not asked for again before this, so that the windows and the
// notifications that follow get their answer at once.
const auto kMissingKept = std::chrono::seconds(30);

const SecretSchema* MailSchema() {
    static const SecretSchema schema = {"net.quillmere.Ferrydesk.MailPassword",
                                        SECRET_SCHEMA_NONE,
                                        {
                                            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

[[noreturn]] void Fail(GError* error) {
    std::string text = "The desktop's password store cannot be used: ";
    text += error && error->message ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    throw std::runtime_error(text + ".");
}

std::string MissingText(const std::string& why, const std::string& remedy) {
    return "No password store is running on this desktop: " + why +
           ". Ferrydesk keeps the mail password in the desktop's Secret Service; " + remedy + ".";
}

const char kInstall[] =
    "install one, for example gnome-keyring (or KWallet on KDE), and log in again";

// One call to the bus itself, bounded; nothing when it failed (error then set).
GVariant* AskBus(GDBusConnection* bus, const char* method, GVariant* arguments,
                 const GVariantType* reply, int timeoutMs, GError** error) {
    return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", method, arguments, reply,
                                       G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, error);
}

// Whether the Secret Service runs on the session bus, or can be started there within
// kStartMs; the reason, in the user's words, when not. A connection of its own, so that a
// bus changed since the last call is the one asked.
std::string WhyNoStore() {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!address) {
        g_clear_error(&error);
        return MissingText("this session has no D-Bus session bus to find one on", kInstall);
    }
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_free(address);
    if (!bus) {
        g_clear_error(&error);
        return MissingText("the D-Bus session bus cannot be reached", kInstall);
    }
    std::string why;
    gboolean owned = FALSE, startable = FALSE;
    if (GVariant* r = AskBus(bus, "NameHasOwner", g_variant_new("(s)", kSecretsName),
                             G_VARIANT_TYPE("(b)"), kAskBusMs, &error)) {
        g_variant_get(r, "(b)", &owned);
        g_variant_unref(r);
    }
    g_clear_error(&error);
    if (!owned) {
        if (GVariant* r = AskBus(bus, "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"),
                                 kAskBusMs, &error)) {
            GVariantIter* names = nullptr;
            const gchar* name = nullptr;
            g_variant_get(r, "(as)", &names);
            while (g_variant_iter_loop(names, "&s", &name))
                startable = startable || g_strcmp0(name, kSecretsName) == 0;
            g_variant_iter_free(names);
            g_variant_unref(r);
        }
        g_clear_error(&error);
        if (!startable) {
            why = MissingText("nothing on the session bus provides the Secret Service "
                              "(org.freedesktop.secrets)",
                              kInstall);
        } else if (GVariant* r =
                       AskBus(bus, "StartServiceByName", g_variant_new("(su)", kSecretsName, 0u),
                              G_VARIANT_TYPE("(u)"), kStartMs, &error)) {
            g_variant_unref(r);
        } else {
            why = MissingText(
                g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)
                    ? "the Secret Service (org.freedesktop.secrets) is installed but did not "
                      "start within 3 seconds"
                    : "the Secret Service (org.freedesktop.secrets) is installed but could not "
                      "start",
                "make sure it can start in this session (for gnome-keyring: "
                "gnome-keyring-daemon --start --components=secrets), or log in again");
        }
        g_clear_error(&error);
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return why;
}

} // namespace

void TSecretServicePasswordSource::CheckReachable() {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(Lock_);
        if (!Missing_.empty() && now - MissingSince_ < kMissingKept)
            throw EPasswordStoreMissing(Missing_);
    }
    std::string why = WhyNoStore();
    std::lock_guard<std::mutex> lock(Lock_);
    Missing_ = why;
    MissingSince_ = now;
    if (!why.empty())
        throw EPasswordStoreMissing(why);
}

std::optional<std::string> TSecretServicePasswordSource::Read(const std::string& server,
                                                              const std::string& user) {
    CheckReachable();
    GError* error = nullptr;
    gchar* password = secret_password_lookup_sync(MailSchema(), nullptr, &error, "server",
                                                  server.c_str(), "user", user.c_str(), nullptr);
    if (error)
        Fail(error);
    if (!password)
        return std::nullopt;
    std::string result(password);
    secret_password_free(password); // wipes the copy libsecret held
    return result;
}

void TSecretServicePasswordSource::Store(const std::string& server, const std::string& user,
                                         const std::string& password) {
    CheckReachable();
    GError* error = nullptr;
    const std::string label = "Ferrydesk mail password for " + user + " on " + server;
    secret_password_store_sync(MailSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               password.c_str(), nullptr, &error, "server", server.c_str(), "user",
                               user.c_str(), nullptr);
    if (error)
        Fail(error);
}

bool TSecretServicePasswordSource::Remove(const std::string& server, const std::string& user) {
    CheckReachable();
    GError* error = nullptr;
    gboolean removed = secret_password_clear_sync(MailSchema(), nullptr, &error, "server",
                                                  server.c_str(), "user", user.c_str(), nullptr);
    if (error)
        Fail(error);
    return removed;
}

} // namespace ferry
