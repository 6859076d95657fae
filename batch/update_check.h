// The quiet update check: one GET of "version.cgi" on the configured update host, whose
// 302 answer names where a newer version can be had. Nothing here is ever shown.
#pragma once
#include <cstddef>

// The agent text "%s/%4.4u-%2.2u-%2.2u (%s %s %s)": the program's name, its build date (the
// compiler's "Mar 17 2025" form; an unreadable one gives zeros), then the system's name, its
// version and "Desktop" or "Server". Returns the length written (cut to the buffer).
int UpdateCheck_AgentText(char* out, size_t size, const char* name, const char* buildDate,
                          const char* systemName, const char* systemVersion,
                          const char* productType);

// The agent text of this machine: uname() for name and version, "Desktop" when a display
// is available, else "Server".
int UpdateCheck_MachineAgentText(char* out, size_t size, const char* name, const char* buildDate);

// The host of the update server: ZYMBUPDATEHOST, else the given profile value; "" when none
// is configured, in which case no request is made. A host may carry ":port".
const char* UpdateCheck_Host(const char* profileHost);

// Sends GET http://<host>/version.cgi with the agent text, 1500 ms to connect and 1500 ms to
// transfer, no redirect following. Returns 1 and fills location (cut to its size) with the
// text after "Location: " when the answer is 302 with that header, else 0 with location "".
// Every failure is silent. Blocks: never call it on a window's thread.
int UpdateCheck_Run(const char* host, const char* agent, char* location, size_t size);
