// Kerberos single sign-on. This build has no Kerberos client yet: every attempt is
// reported and refused, so a logon that asks for it ends with "Single Sign-On
// unsuccessful" instead of sending a logon without credentials.
#include "api/api_log.h"
#include "api/logon.h"

bool ZYMB10API_SingleSignOn(ZYMB10APISession* session, const char* /*target*/) {
    ApiReport(session, MSG_INFO, "Initiating Kerberos Single Sign-On");
    ApiReport(session, MSG_ERROR, "Single Sign-On failed");
    return false;
}
