// GSSAPI status texts through gss_display_status.
#include "api/gss_status.h"

#include <gssapi/gssapi_krb5.h>

std::string GssStatusText(OM_uint32 major, OM_uint32 minor) {
    std::string text;
    const struct {
        OM_uint32 code;
        int type;
    } parts[] = {{major, GSS_C_GSS_CODE}, {minor, GSS_C_MECH_CODE}};
    for (const auto& part : parts) {
        if (part.type == GSS_C_MECH_CODE && part.code == 0) continue;
        OM_uint32 context = 0;
        do {
            OM_uint32 displayMinor = 0;
            gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
            const gss_OID mechanism = part.type == GSS_C_MECH_CODE ? gss_mech_krb5 : GSS_C_NO_OID;
            if (GSS_ERROR(gss_display_status(&displayMinor, part.code, part.type, mechanism,
                                             &context, &message)))
                break;
            if (!text.empty()) text += "; ";
            text.append(static_cast<const char*>(message.value), message.length);
            gss_release_buffer(&displayMinor, &message);
        } while (context != 0);
    }
    return text;
}
