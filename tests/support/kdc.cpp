// The throw-away KDC: configuration files, kdb5_util, kadmin.local, krb5kdc and kinit.
#include "tests/support/kdc.h"

#include <cstdlib>

namespace testsupport {

std::string Kdc::Filled(std::string text) const {
    const std::pair<std::string, std::string> values[] = {
        {"{REALM}", realm_}, {"{PORT}", std::to_string(port_)}, {"{FOLDER}", folder_.Path()}};
    for (const auto& [name, value] : values) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

Kdc::Kdc(const std::string& realm) : realm_(realm) {
    const std::string kdb5Util = FindProgram("kdb5_util");
    const std::string kdc = FindProgram("krb5kdc");
    if (kdb5Util.empty() || kdc.empty() || FindProgram("kadmin.local").empty() ||
        FindProgram("kinit").empty()) {
        error_ = "the MIT Kerberos programs (krb5kdc, kdb5_util, kadmin.local, kinit) are missing";
        return;
    }
    port_ = FreeLoopbackPort();
    // TCP only, no DNS, and a clock skew of one second so that an expired ticket is
    // refused at once rather than five minutes later.
    WriteFile(Path("krb5.conf"), Filled(R"([libdefaults]
    default_realm = {REALM}
    dns_lookup_kdc = false
    dns_lookup_realm = false
    dns_canonicalize_hostname = false
    rdns = false
    udp_preference_limit = 1
    clockskew = 1
[realms]
    {REALM} = {
        kdc = 127.0.0.1:{PORT}
    }
)"));
    WriteFile(Path("kdc.conf"), Filled(R"([kdcdefaults]
    kdc_listen = 127.0.0.1:{PORT}
    kdc_tcp_listen = 127.0.0.1:{PORT}
[realms]
    {REALM} = {
        database_name = {FOLDER}/principal
        key_stash_file = {FOLDER}/stash
        acl_file = {FOLDER}/kadm5.acl
        max_life = 10h
        max_renewable_life = 1d
    }
[logging]
    kdc = FILE:{FOLDER}/kdc.log
    default = FILE:{FOLDER}/kdc.log
)"));
    WriteFile(Path("kadm5.acl"), "");
    if (!Step(kdb5Util, {"create", "-s", "-P", "master-password", "-r", realm_})) return;
    auto environment = Environment();
    if (!process_.Start(kdc, {"-n", "-r", realm_, "-P", Path("kdc.pid")}, environment,
                        Path("krb5kdc.out")) ||
        !WaitForPort(port_)) {
        error_ =
            "krb5kdc did not start: " + ReadFile(Path("krb5kdc.out")) + ReadFile(Path("kdc.log"));
        return;
    }
    running_ = true;
}

Kdc::~Kdc() {
    process_.Stop();
}

std::map<std::string, std::optional<std::string>> Kdc::Environment() const {
    return {{"KRB5_CONFIG", Path("krb5.conf")},
            {"KRB5_KDC_PROFILE", Path("kdc.conf")},
            {"KRB5RCACHEDIR", folder_.Path()}};
}

void Kdc::Export() const {
    for (const auto& [name, value] : Environment()) setenv(name.c_str(), value->c_str(), 1);
}

bool Kdc::Step(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& input,
               const std::map<std::string, std::optional<std::string>>& extra) {
    ChildOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    for (const auto& [name, value] : extra) options.environment[name] = value;
    options.input = input;
    options.timeoutSeconds = 30;
    const ChildResult result = RunProgram(program, options);
    if (result.exitStatus == 0) return true;
    error_ = program;
    for (const std::string& argument : arguments) error_ += " " + argument;
    error_ += " failed (" + std::to_string(result.exitStatus) + "): " + result.out + result.err;
    return false;
}

bool Kdc::AddPrincipal(const std::string& name, const std::string& password) {
    const std::string query =
        password.empty() ? "addprinc -randkey " + name : "addprinc -pw " + password + " " + name;
    return Step(FindProgram("kadmin.local"), {"-r", realm_, "-q", query});
}

bool Kdc::WriteKeytab(const std::string& principal, const std::string& keytab) {
    return Step(FindProgram("kadmin.local"),
                {"-r", realm_, "-q", "ktadd -k " + keytab + " " + principal});
}

bool Kdc::GetTicket(const std::string& principal, const std::string& password,
                    const std::string& cache, const std::string& lifetime) {
    std::vector<std::string> arguments;
    if (!lifetime.empty()) arguments = {"-l", lifetime};
    arguments.push_back(principal);
    return Step(FindProgram("kinit"), arguments, password + "\n",
                {{"KRB5CCNAME", "FILE:" + cache}});
}

bool Kdc::GetTicketFromKeytab(const std::string& principal, const std::string& keytab,
                              const std::string& cache) {
    return Step(FindProgram("kinit"), {"-k", "-t", keytab, principal}, "",
                {{"KRB5CCNAME", "FILE:" + cache}});
}

}  // namespace testsupport
