// The throw-away KDC: configuration files, kdb5_util, kadmin.local, krb5kdc and kinit.
#include "tests/support/kdc.h"

#include <cstdlib>

namespace testsupport {

Kdc::Kdc(const std::string& realm) : realm_(realm) {
    const std::string kdb5Util = FindProgram("kdb5_util");
    const std::string kdc = FindProgram("krb5kdc");
    if (kdb5Util.empty() || kdc.empty() || FindProgram("kadmin.local").empty() ||
        FindProgram("kinit").empty()) {
        error_ = "the MIT Kerberos programs (krb5kdc, kdb5_util, kadmin.local, kinit) are missing";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string port = std::to_string(port_);
    // TCP only, no DNS, and a clock skew of one second so that an expired ticket is
    // refused at once rather than five minutes later.
    WriteFile(Path("krb5.conf"),
              "[libdefaults]\n"
              "    default_realm = " +
                  realm_ +
                  "\n"
                  "    dns_lookup_kdc = false\n"
                  "    dns_lookup_realm = false\n"
                  "    dns_canonicalize_hostname = false\n"
                  "    rdns = false\n"
                  "    udp_preference_limit = 1\n"
                  "    clockskew = 1\n"
                  "[realms]\n"
                  "    " +
                  realm_ +
                  " = {\n"
                  "        kdc = 127.0.0.1:" +
                  port +
                  "\n"
                  "    }\n");
    WriteFile(Path("kdc.conf"),
              "[kdcdefaults]\n"
              "    kdc_listen = 127.0.0.1:" +
                  port +
                  "\n"
                  "    kdc_tcp_listen = 127.0.0.1:" +
                  port +
                  "\n"
                  "[realms]\n"
                  "    " +
                  realm_ +
                  " = {\n"
                  "        database_name = " +
                  Path("principal") +
                  "\n"
                  "        key_stash_file = " +
                  Path("stash") +
                  "\n"
                  "        acl_file = " +
                  Path("kadm5.acl") +
                  "\n"
                  "        max_life = 10h\n"
                  "        max_renewable_life = 1d\n"
                  "    }\n"
                  "[logging]\n"
                  "    kdc = FILE:" +
                  Path("kdc.log") +
                  "\n"
                  "    default = FILE:" +
                  Path("kdc.log") + "\n");
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
