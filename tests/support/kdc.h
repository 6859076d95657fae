// For tests: a throw-away MIT Kerberos KDC on a loopback port, with its realm, database,
// configuration and logs in a temporary folder, and the kadmin and kinit steps the tests
// need (principals, keytabs, ticket caches). Nothing outside the folder is touched.
#pragma once
#include <map>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

class Kdc {
  public:
    // Creates the realm's database and starts krb5kdc; check Running() (and Error()).
    explicit Kdc(const std::string& realm = "CORVANTIX.TEST");
    // Stops the KDC it started.
    ~Kdc();
    Kdc(const Kdc&) = delete;
    Kdc& operator=(const Kdc&) = delete;

    bool Running() const { return running_; }
    // Why the KDC is not running: a missing program or a failed step with its output.
    const std::string& Error() const { return error_; }
    const std::string& Realm() const { return realm_; }
    int Port() const { return port_; }
    // A path in the KDC's temporary folder.
    std::string Path(const std::string& name) const { return folder_ / name; }

    // The variables that point Kerberos libraries and programs at this realm
    // (KRB5_CONFIG, KRB5_KDC_PROFILE, KRB5RCACHEDIR). For a child, add KRB5CCNAME.
    std::map<std::string, std::optional<std::string>> Environment() const;
    // Sets those variables in this process, for Kerberos calls made in the test itself.
    void Export() const;

    // Adds a principal with the password, or with a random key when it is empty.
    bool AddPrincipal(const std::string& name, const std::string& password = "");
    // Writes the principal's keys to a keytab. The keys are made new each time (and the
    // key version rises), so an older keytab of the same principal no longer matches.
    bool WriteKeytab(const std::string& principal, const std::string& keytab);
    // kinit with the password into the ticket cache (a path); lifetime as kinit's -l
    // takes it ("" for the realm's default).
    bool GetTicket(const std::string& principal, const std::string& password,
                   const std::string& cache, const std::string& lifetime = "");
    // kinit from a keytab into the ticket cache.
    bool GetTicketFromKeytab(const std::string& principal, const std::string& keytab,
                             const std::string& cache);

  private:
    // The text with {REALM}, {PORT} and {FOLDER} replaced.
    std::string Filled(std::string text) const;
    bool Step(const std::string& program, const std::vector<std::string>& arguments,
              const std::string& input = "",
              const std::map<std::string, std::optional<std::string>>& extra = {});

    std::string realm_;
    TempDir folder_;
    BackgroundProcess process_;
    int port_ = 0;
    bool running_ = false;
    std::string error_;
};

}  // namespace testsupport
