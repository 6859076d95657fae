// The server's side of Kerberos single sign-on ("List-SSO"). This build accepts no
// Kerberos tokens: every pass is answered "Single Sign-On unsuccessful" with Feedback 0,
// so a client falls back to, or fails without, a password logon.
#include "api/codes.h"
#include "devserver/handlers.h"

Reply HandleListSso(ServerShared&, ConnectionState&, const IncomingRequest&,
                    const std::vector<Fault>&) {
    Reply reply;
    reply.rc = RC_SINGLE_SIGN_ON_FAILED;
    return reply;
}
