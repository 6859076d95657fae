// The server's side of Kerberos single sign-on ("List-SSO"): each pass hands the client's
// token to gss_accept_sec_context with the keys of the server's keytab and answers the
// token it produces. Once the context is complete, the client principal is mapped to a
// user of the users file: the whole principal name when the file names it (for example
// "ops@CORVANTIX.TEST"), else the name without its realm when that is a single component
// ("batch@CORVANTIX.TEST" is user "batch"; "batch/admin@..." maps to nobody). A mapped
// user is answered with Feedback 1 and kept for the Logon that follows on the connection.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "api/codes.h"
#include "api/gss_status.h"
#include "devserver/handlers.h"
#include "devserver/server.h"

struct SingleSignOnContext {
    gss_ctx_id_t handle = GSS_C_NO_CONTEXT;
    uint32_t nextPass = 0;
    ~SingleSignOnContext() {
        OM_uint32 minor = 0;
        if (handle != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &handle, GSS_C_NO_BUFFER);
    }
};

namespace {

// The acceptor credentials for every connection; GSS_C_NO_CREDENTIAL takes the default
// keytab at each acceptance.
gss_cred_id_t acceptorCredential = GSS_C_NO_CREDENTIAL;

std::string PrincipalText(gss_name_t name) {
    OM_uint32 minor = 0;
    gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_name(&minor, name, &text, nullptr))) return "";
    std::string principal(static_cast<const char*>(text.value), text.length);
    gss_release_buffer(&minor, &text);
    return principal;
}

std::string MappedUser(const UserStore& users, const std::string& principal) {
    if (!principal.empty() && users.Exists(principal)) return principal;
    const std::string name = principal.substr(0, principal.rfind('@'));
    if (name.empty() || name.find('/') != std::string::npos || !users.Exists(name)) return "";
    return name;
}

Reply Refused(ConnectionState& connection, const std::string& what, const std::string& why) {
    ServerLog("#%d single sign-on %s: %s", connection.id, what.c_str(), why.c_str());
    connection.singleSignOnContext.reset();
    Reply reply;
    reply.rc = RC_SINGLE_SIGN_ON_FAILED;
    return reply;
}

}  // namespace

bool SetUpSingleSignOn(const std::string& keytab, std::string* description) {
    if (keytab.empty()) {
        const char* named = getenv("KRB5_KTNAME");
        *description = std::string("default keytab") + (named ? std::string(" ") + named : "");
        return true;
    }
    if (!std::ifstream(keytab)) {
        *description = "cannot read keytab " + keytab + ": " + strerror(errno);
        return false;
    }
    const std::string location = "FILE:" + keytab;
    gss_key_value_element_desc element = {"keytab", location.c_str()};
    gss_key_value_set_desc store = {1, &element};
    gss_OID_set_desc kerberos = {1, gss_mech_krb5};
    OM_uint32 minor = 0;
    const OM_uint32 major =
        gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberos, GSS_C_ACCEPT,
                              &store, &acceptorCredential, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        *description = "cannot use keytab " + keytab + ": " + GssStatusText(major, minor);
        return false;
    }
    *description = "keytab " + keytab;
    return true;
}

Reply HandleListSso(ServerShared& shared, ConnectionState& connection,
                    const IncomingRequest& request, const std::vector<Fault>&) {
    const uint32_t pass = request.header.OptArgs;
    if (pass == 0) {
        // A new attempt: whatever an earlier one established no longer counts.
        connection.singleSignOnUser.clear();
        connection.singleSignOnContext = std::make_shared<SingleSignOnContext>();
    } else if (connection.singleSignOnContext == nullptr ||
               connection.singleSignOnContext->nextPass != pass) {
        return Refused(connection, "refused", "pass " + std::to_string(pass) + " out of order");
    }
    SingleSignOnContext& context = *connection.singleSignOnContext;

    gss_buffer_desc input = {request.payload.size(), const_cast<uint8_t*>(request.payload.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    gss_name_t client = GSS_C_NO_NAME;
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_accept_sec_context(&minor, &context.handle, acceptorCredential,
                                                   &input, GSS_C_NO_CHANNEL_BINDINGS, &client,
                                                   nullptr, &output, nullptr, nullptr, nullptr);
    Reply reply;
    reply.payload.assign(static_cast<const uint8_t*>(output.value),
                         static_cast<const uint8_t*>(output.value) + output.length);
    OM_uint32 ignored = 0;
    gss_release_buffer(&ignored, &output);
    if (GSS_ERROR(major)) {
        if (client != GSS_C_NO_NAME) gss_release_name(&ignored, &client);
        return Refused(connection, "failed in pass " + std::to_string(pass),
                       GssStatusText(major, minor));
    }
    if (major & GSS_S_CONTINUE_NEEDED) {
        context.nextPass = pass + 1;
        if (client != GSS_C_NO_NAME) gss_release_name(&ignored, &client);
        return reply;
    }
    const std::string principal = PrincipalText(client);
    gss_release_name(&ignored, &client);
    std::string service = "?";
    gss_name_t acceptor = GSS_C_NO_NAME;
    if (!GSS_ERROR(gss_inquire_context(&ignored, context.handle, nullptr, &acceptor, nullptr,
                                       nullptr, nullptr, nullptr, nullptr))) {
        service = PrincipalText(acceptor);
        gss_release_name(&ignored, &acceptor);
    }
    connection.singleSignOnContext.reset();
    const std::string user = MappedUser(*shared.users, principal);
    if (user.empty()) {
        // Kerberos vouches for the client, but it is nobody here.
        ServerLog("#%d single sign-on: principal %s is no user (service %s)", connection.id,
                  principal.c_str(), service.c_str());
        return reply;
    }
    ServerLog("#%d single sign-on: principal %s is user %s (service %s)", connection.id,
              principal.c_str(), user.c_str(), service.c_str());
    connection.singleSignOnUser = user;
    reply.feedback = 1;
    return reply;
}
