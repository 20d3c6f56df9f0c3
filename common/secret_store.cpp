#include "secret_store.h"

#include <libsecret/secret.h>

namespace orvo {

namespace {

// Items are found again by the server and the login they are for.
const SecretSchema* MailSchema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "org.orvo.Mail";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

// Takes the GError; the message says what to do.
std::string Failure(GError* error) {
  std::string detail = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return "no Secret Service answers (" + detail + "): " + kNoSecretServiceAdvice;
}

}  // namespace

std::string SmtpUrl(const std::string& server) {
  if (server.find("://") != std::string::npos) return server;
  return "smtps://" + server;
}

bool StoreMailPassword(const std::string& server, const std::string& user, const std::string& password,
                       std::string* error) {
  GError* e = nullptr;
  const std::string label = "ORVO mail login " + user + " at " + server;
  gboolean ok = secret_password_store_sync(MailSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(),
                                           nullptr, &e, "server", server.c_str(), "user", user.c_str(), nullptr);
  if (!ok) *error = Failure(e);
  return ok;
}

std::optional<std::string> LookupMailPassword(const std::string& server, const std::string& user,
                                              std::string* error) {
  GError* e = nullptr;
  gchar* found = secret_password_lookup_sync(MailSchema(), nullptr, &e, "server", server.c_str(), "user",
                                             user.c_str(), nullptr);
  if (e) {
    *error = Failure(e);
    return std::nullopt;
  }
  if (!found) {
    *error = "the Secret Service keeps no password for " + user + " at " + server +
             "; give it with orvo config --mail-password";
    return std::nullopt;
  }
  std::string password = found;
  secret_password_free(found);
  return password;
}

bool ClearMailPassword(const std::string& server, const std::string& user, std::string* error) {
  GError* e = nullptr;
  secret_password_clear_sync(MailSchema(), nullptr, &e, "server", server.c_str(), "user", user.c_str(), nullptr);
  if (e) {
    *error = Failure(e);
    return false;
  }
  return true;
}

}  // namespace orvo
