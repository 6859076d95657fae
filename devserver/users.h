// The development server's users: a text file with one user a line,
//   user:password[:inherit]
// where password is the password itself or the 32 upper-case hexadecimal digits of a
// digest (then the file need not hold the password), and "inherit" sets the inheritance
// bit of the user's record, which lets that user take over another user's access. Blank lines and
// lines starting with "#" are ignored. Last logon times and addresses are kept in memory for the
// life of the server.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

struct UserEntry {
    std::string password;  // as written in the file
    bool inheritable = false;
    uint32_t lastLogonTime = 0;     // seconds since 1970; 0 = never
    uint32_t lastLogonAddress = 0;  // IPv4, network order
};

class UserStore {
  public:
    // False (with a reason) when the file cannot be read or a line is malformed.
    bool Load(const std::string& path, std::string* error);
    bool Exists(const std::string& user) const;
    // Checks a 16-byte digest: the bytes the stored password spells when it is a digest,
    // else its MD5.
    bool CheckDigest(const std::string& user, const uint8_t* digest) const;
    // Checks a password sent as text, against the stored password or its digest.
    bool CheckPlain(const std::string& user, const std::string& password) const;
    // The user's record as it stood before this logon, then records this logon.
    UserEntry RecordLogon(const std::string& user, uint32_t when, uint32_t address);
    bool Inheritable(const std::string& user) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, UserEntry> users_;
};
