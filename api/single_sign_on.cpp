// Kerberos single sign-on over GSSAPI: the user's tickets from the default credential
// cache build a security context for the server's service principal, one "List-SSO"
// exchange per pass, until the context is complete and the server has said whether it
// accepts the user.
#include <arpa/inet.h>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <netdb.h>

#include <cstring>

#include "api/api_log.h"
#include "api/codes.h"
#include "api/exchange.h"
#include "api/gss_status.h"
#include "api/logon.h"

namespace {

constexpr size_t TARGET_NAME_SIZE = 1025;  // 1024 characters and the terminator

// Owners of the GSSAPI handles, so that every way out of the exchange releases them.
struct Credential {
    gss_cred_id_t handle = GSS_C_NO_CREDENTIAL;
    ~Credential() {
        OM_uint32 minor = 0;
        if (handle != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &handle);
    }
};

struct TargetName {
    gss_name_t handle = GSS_C_NO_NAME;
    ~TargetName() {
        OM_uint32 minor = 0;
        if (handle != GSS_C_NO_NAME) gss_release_name(&minor, &handle);
    }
};

struct SecurityContext {
    gss_ctx_id_t handle = GSS_C_NO_CONTEXT;
    ~SecurityContext() {
        OM_uint32 minor = 0;
        if (handle != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &handle, GSS_C_NO_BUFFER);
    }
};

struct OutputToken {
    gss_buffer_desc buffer = GSS_C_EMPTY_BUFFER;
    ~OutputToken() {
        OM_uint32 minor = 0;
        gss_release_buffer(&minor, &buffer);
    }
};

gss_OID_set_desc KerberosOnly() {
    return gss_OID_set_desc{1, gss_mech_krb5};
}

// The library's own words for a failure, as a debug line after the fixed message, so
// that an operator learns whether the ticket is missing, expired or for another realm.
void ReportGssDetail(ZYMB10APISession* session, OM_uint32 major, OM_uint32 minor) {
    const std::string detail = GssStatusText(major, minor);
    if (!detail.empty()) ApiReport(session, MSG_DEBUG, "Kerberos: %.500s", detail.c_str());
}

bool KerberosAvailable() {
    OM_uint32 minor = 0;
    gss_OID_set mechanisms = GSS_C_NO_OID_SET;
    if (GSS_ERROR(gss_indicate_mechs(&minor, &mechanisms))) return false;
    int present = 0;
    gss_test_oid_set_member(&minor, gss_mech_krb5, mechanisms, &present);
    gss_release_oid_set(&minor, &mechanisms);
    return present != 0;
}

// "corvantix/HOST" with the host name of the peer address (the proxy's, when the session
// goes through one).
void DeriveTarget(ZYMB10APISession* session, char* target, size_t size) {
    char host[NI_MAXHOST] = "";
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    const bool resolved = inet_pton(AF_INET, session->peerAddress, &address.sin_addr) == 1 &&
                          getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, host,
                                      sizeof host, nullptr, 0, NI_NAMEREQD) == 0;
    if (!resolved) {
        snprintf(host, sizeof host, "***ERROR***");
        ApiReport(session, MSG_ERROR, "getnameinfo() unable to resolve address of remote server");
    }
    snprintf(target, size, "corvantix/%s", host);
}

void ReportContextFailure(ZYMB10APISession* session, OM_uint32 major, OM_uint32 minor) {
    ApiReport(session, MSG_ERROR, "InitializeSecurityContext failed with error code  0x%x", major);
    ReportGssDetail(session, major, minor);
}

// The pass loop. True when the last reply accepted the user and the context is complete.
bool Negotiate(ZYMB10APISession* session, const Credential& credential, const TargetName& target) {
    SecurityContext context;
    ZYMB10APIResponse* reply = nullptr;
    bool accepted = false;
    for (uint32_t pass = 0;; ++pass) {
        gss_buffer_desc input = GSS_C_EMPTY_BUFFER;
        if (reply != nullptr) {
            input.length = reply->PayloadLength;
            input.value = reply->Payload;
        }
        OutputToken output;
        OM_uint32 minor = 0;
        const OM_uint32 major = gss_init_sec_context(
            &minor, credential.handle, &context.handle, target.handle, gss_mech_krb5, 0, 0,
            GSS_C_NO_CHANNEL_BINDINGS, pass == 0 ? GSS_C_NO_BUFFER : &input, nullptr,
            &output.buffer, nullptr, nullptr);
        ZYMB10API_FreeResponse(reply);
        reply = nullptr;
        if (GSS_ERROR(major)) {
            // A context that fails on our side is no sign-on, whatever an earlier reply said.
            ReportContextFailure(session, major, minor);
            accepted = false;
            break;
        }
        const bool continueNeeded = (major & GSS_S_CONTINUE_NEEDED) != 0;
        if (output.buffer.length > SSO_TOKEN_LIMIT) {
            ReportContextFailure(session, GSS_S_FAILURE, 0);
            accepted = false;
            break;
        }

        ZYMB10APIRequest request = {};
        request.TotalLength = 32;
        request.Function = FUNCTION_LIST_SSO;
        request.OptArgs = pass;
        request.Length = static_cast<uint32_t>(output.buffer.length);
        request.Payload = output.buffer.value;
        reply = ZYMB10API_Send(session, &request);
        const uint8_t rc = reply != nullptr ? reply->RC : RC_RECEIVE_FAILED;
        if (rc != RC_OK) {
            ApiReport(session, MSG_ERROR, "Server returned error: %s", ResultMessageText(rc));
            accepted = false;
            break;
        }
        // The reply's token is the next pass's input. One larger than any Kerberos token
        // can be is no token at all: the reply is refused as if it had not arrived whole.
        if (reply->PayloadLength > SSO_TOKEN_LIMIT) {
            ApiReport(session, MSG_ERROR, "Server returned error: %s",
                      ResultMessageText(RC_RECEIVE_FAILED));
            accepted = false;
            break;
        }
        accepted = reply->Feedback != 0;
        if (!continueNeeded) break;
    }
    ZYMB10API_FreeResponse(reply);
    return accepted;
}

}  // namespace

bool ZYMB10API_SingleSignOn(ZYMB10APISession* session, const char* target) {
    ApiReport(session, MSG_INFO, "Initiating Kerberos Single Sign-On");
    bool accepted = false;
    if (!KerberosAvailable()) {
        ApiReport(session, MSG_ERROR, "Unable to query Kerberos package information");
        return false;
    }
    Credential credential;
    OM_uint32 minor = 0;
    gss_OID_set_desc mechanisms = KerberosOnly();
    const OM_uint32 acquired =
        gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms, GSS_C_INITIATE,
                         &credential.handle, nullptr, nullptr);
    if (GSS_ERROR(acquired)) {
        ApiReport(session, MSG_ERROR, "Unable to acquire credentials handle");
        ReportGssDetail(session, acquired, minor);
        return false;
    }

    char targetText[TARGET_NAME_SIZE];
    if (target != nullptr && target[0] != '\0') {
        snprintf(targetText, sizeof targetText, "%s", target);
    } else {
        DeriveTarget(session, targetText, sizeof targetText);
    }
    ApiReport(session, MSG_INFO, "Single Sign-On target is %s", targetText);

    // The name is a Kerberos principal ("service/host", realm optional); a name the
    // library cannot take fails as the first pass would.
    TargetName name;
    gss_buffer_desc nameText = {strlen(targetText), targetText};
    const OM_uint32 imported =
        gss_import_name(&minor, &nameText, GSS_KRB5_NT_PRINCIPAL_NAME, &name.handle);
    if (GSS_ERROR(imported)) {
        ReportContextFailure(session, imported, minor);
    } else {
        accepted = Negotiate(session, credential, name);
    }

    if (accepted) {
        ApiReport(session, MSG_INFO, "Single Sign-On was sucessful");
    } else {
        ApiReport(session, MSG_ERROR, "Single Sign-On failed");
    }
    return accepted;
}
