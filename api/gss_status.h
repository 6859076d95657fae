// The Kerberos library's own words for a GSSAPI status, for the client's debug line and
// the development server's log.
#pragma once
#include <gssapi/gssapi.h>

#include <string>

// Every message of the major and (when not 0) the Kerberos minor status, joined by "; ".
std::string GssStatusText(OM_uint32 major, OM_uint32 minor);
