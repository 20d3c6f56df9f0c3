// The mail password in the desktop's Secret Service (GNOME Keyring,
// KeePassXC, KWallet's), through libsecret: never in ORVO.ini or the log.
#pragma once

#include <optional>
#include <string>

namespace orvo {

// What to do when no Secret Service answers, for every message about it.
inline constexpr const char* kNoSecretServiceAdvice =
    "start the desktop's keyring (GNOME Keyring: apt install gnome-keyring; or KeePassXC with its "
    "Secret Service integration on) and give the password again with orvo config --mail-password";

// The mail server as libcurl takes it and as its password is filed: a host
// alone becomes smtps://host.
std::string SmtpUrl(const std::string& server);

// Keeps `password` for the login `user` at `server`. false with *error.
bool StoreMailPassword(const std::string& server, const std::string& user, const std::string& password,
                       std::string* error);

// The kept password; nullopt with *error when there is none or no Secret
// Service answers.
std::optional<std::string> LookupMailPassword(const std::string& server, const std::string& user,
                                              std::string* error);

// Forgets it; false with *error only when the Secret Service failed.
bool ClearMailPassword(const std::string& server, const std::string& user, std::string* error);

}  // namespace orvo
