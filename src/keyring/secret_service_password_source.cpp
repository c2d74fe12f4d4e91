#include "keyring/secret_service_password_source.h"

#include <libsecret/secret.h>
#include <stdexcept>

namespace ferry {

namespace {

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

} // namespace

std::optional<std::string> TSecretServicePasswordSource::Read(const std::string& server,
                                                              const std::string& user) {
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
    GError* error = nullptr;
    const std::string label = "Ferrydesk mail password for " + user + " on " + server;
    secret_password_store_sync(MailSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               password.c_str(), nullptr, &error, "server", server.c_str(), "user",
                               user.c_str(), nullptr);
    if (error)
        Fail(error);
}

bool TSecretServicePasswordSource::Remove(const std::string& server, const std::string& user) {
    GError* error = nullptr;
    gboolean removed = secret_password_clear_sync(MailSchema(), nullptr, &error, "server",
                                                  server.c_str(), "user", user.c_str(), nullptr);
    if (error)
        Fail(error);
    return removed;
}

} // namespace ferry
