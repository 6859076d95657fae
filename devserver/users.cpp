// Loading users and checking their passwords in the three forms a client sends.
#include "devserver/users.h"

#include <openssl/crypto.h>

#include <cstring>
#include <fstream>

#include "api/logon.h"

bool UserStore::Load(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read users file " + path + ": " + strerror(errno);
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos) {
            *error = path + ":" + std::to_string(number) + ": expected user:password[:inherit]";
            return false;
        }
        UserEntry entry;
        std::string password = line.substr(colon + 1);
        const size_t flag = password.rfind(':');
        if (flag != std::string::npos && password.substr(flag + 1) == "inherit") {
            entry.inheritable = true;
            password.resize(flag);
        }
        entry.password = password;
        users_[line.substr(0, colon)] = entry;
    }
    if (users_.empty()) {
        *error = "users file " + path + " names no user";
        return false;
    }
    return true;
}

bool UserStore::Exists(const std::string& user) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return users_.count(user) != 0;
}

bool UserStore::CheckDigest(const std::string& user, const uint8_t* digest) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = users_.find(user);
    if (found == users_.end()) return false;
    // The same rule the client applies: a stored digest stands for itself.
    const uint8_t* expected = ZYMB10API_PasswordDigest(found->second.password.c_str());
    return CRYPTO_memcmp(expected, digest, 16) == 0;
}

bool UserStore::CheckPlain(const std::string& user, const std::string& password) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = users_.find(user);
    if (found == users_.end()) return false;
    if (password == found->second.password) return true;
    uint8_t sent[16];
    memcpy(sent, ZYMB10API_PasswordDigest(password.c_str()), sizeof sent);
    const uint8_t* stored = ZYMB10API_PasswordDigest(found->second.password.c_str());
    return found->second.password.size() == 32 && CRYPTO_memcmp(stored, sent, 16) == 0;
}

UserEntry UserStore::RecordLogon(const std::string& user, uint32_t when, uint32_t address) {
    std::lock_guard<std::mutex> lock(mutex_);
    UserEntry& entry = users_[user];
    const UserEntry before = entry;
    entry.lastLogonTime = when;
    entry.lastLogonAddress = address;
    return before;
}

bool UserStore::Inheritable(const std::string& user) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = users_.find(user);
    return found != users_.end() && found->second.inheritable;
}
