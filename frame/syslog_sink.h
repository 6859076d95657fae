// The syslog client: one per process, UDP datagrams in the classic BSD header format.
#pragma once

// Opens the client once; while it is open later calls do nothing. Failures are silent
// and leave it closed, so that a later send tries again. identity is kept, not copied.
void Syslog_Open(const char* identity, int facility);
// Sends one datagram; opens the client first with openIdentity and openFacility when
// it is not open, and drops the text when it stays closed. A priority without facility
// bits gets the default facility.
void Syslog_Send(int priority, const char* text, const char* openIdentity, int openFacility);
// Closes the client (tests open it again with other settings).
void Syslog_Close();
// Builds a datagram into out (at most maximum bytes, no terminating zero counted);
// returns its length. Exposed for tests.
int Syslog_Compose(char* out, int maximum, int priority, const char* computerName,
                   const char* identity, unsigned long threadId, const char* text);
