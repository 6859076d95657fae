// What the development server answers to each function it knows. Every handler gets the
// shared server state, the connection's state and the request, and returns a Reply.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devserver/faults.h"
#include "devserver/file_store.h"
#include "devserver/server_wire.h"
#include "devserver/users.h"

struct ServerShared {
    UserStore* users;
    FileStore* files;
    std::string name;  // answered by ID-Server, at most 20 characters
};

// The Kerberos security context of a connection between "List-SSO" passes.
struct SingleSignOnContext;

// One client connection. A logon handler sets loggedOn; the single-sign-on handler
// sets singleSignOnUser once Kerberos has accepted the client, which a logon without
// user and password then takes.
struct ConnectionState {
    int id = 0;
    uint32_t peerAddress = 0;  // IPv4, network order
    bool loggedOn = false;
    std::string user;
    std::string singleSignOnUser;
    std::string inheritedFrom;
    std::shared_ptr<SingleSignOnContext> singleSignOnContext;  // between passes
};

// The answer to one request: a handler's, 1 for unknown functions, 28 before logon, or
// the result code a fault asks for.
Reply Dispatch(ServerShared& shared, ConnectionState& connection, const IncomingRequest& request,
               const std::vector<Fault>& faults);

// The single-sign-on exchange ("List-SSO"), in its own unit.
Reply HandleListSso(ServerShared& shared, ConnectionState& connection,
                    const IncomingRequest& request, const std::vector<Fault>& faults);
// Called once before serving: the keytab that holds the keys of the server's service
// principals, or "" for the Kerberos default (KRB5_KTNAME, else the system keytab).
// False (with a reason) when a named keytab cannot be used. description tells the log.
bool SetUpSingleSignOn(const std::string& keytab, std::string* description);

// A text field of a request: up to width bytes, ending at the first zero byte.
std::string FieldText(const uint8_t* field, size_t width);
