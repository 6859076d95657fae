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

// Standard input can be read only once, yet the argument intake and the report writer
// both read the posted form: the first reader keeps the body here for the later ones.
void KeepCgiBody(const std::string& body);
// The kept body, or none when no reader has kept one yet.
const std::string* KeptCgiBody();
