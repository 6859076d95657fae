// The form of a CGI request (GET query string or POST body) read with cgicc, and the
// program's own second decoding of each value. The parsers read and change no process
// state: the caller passes the request in, so a fuzzer can drive them. The kept POST body
// at the end is the one exception, by its nature.
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct CgiRequest {
    std::string_view method;       // REQUEST_METHOD; empty counts as GET
    std::string_view queryString;  // QUERY_STRING, used by GET
    std::string_view contentType;  // CONTENT_TYPE, used by POST
    std::string_view body;         // the POST body as received
};

struct FormVariable {
    std::string name;
    std::string value;  // decoded once, by cgicc
};

enum CgiMethod { CGI_GET, CGI_POST, CGI_OTHER };

// GET for an empty method; compared without regard to case.
CgiMethod ClassifyCgiMethod(std::string_view method);

// The form variables in request order. GET reads the query string, POST the body; any
// other method gives none. Returns 1, or 0 with a reason in error when cgicc rejects the
// request.
int ParseCgiForm(const CgiRequest& request, std::vector<FormVariable>* variables,
                 std::string* error);

// The second decoding: "%" and two hexadecimal digits become that byte, "+" a blank.
// An escape that is not two hexadecimal digits stays as it is. The result may hold zero
// bytes; the caller decides what they mean.
std::string DecodeFormValue(std::string_view value);

constexpr size_t CGI_BODY_LIMIT = 1 << 20;  // bytes of POST body accepted

// The posted body of this process's request: CONTENT_LENGTH bytes of standard input.
struct CgiBody {
    enum Status {
        COMPLETE,    // every announced byte arrived (none when no length was given)
        BAD_LENGTH,  // CONTENT_LENGTH is not a number
        TOO_LONG,    // CONTENT_LENGTH is above CGI_BODY_LIMIT; nothing was read
        SHORT,       // standard input ended before the announced length
    } status;
    unsigned long long expected;  // the announced length
    std::string text;             // what arrived
};

// Reads the body at the first call, stopping at end of input so that a client that sent
// less than it announced cannot hold the program, and keeps it for every later caller:
// the argument intake and the report writer both read the form, and standard input can
// be read only once.
const CgiBody& ReadCgiBody();

// The value of the first variable of that name (in any case) in this process's request
// (REQUEST_METHOD, QUERY_STRING, CONTENT_TYPE and the kept body); "" when there is none or
// the form cannot be read. For the report writer's set-up.
std::string CgiFormVariable(const char* name);
