// The form of a CGI request, read with cgicc from a request the caller passes in.
#include "frame/cgi_form.h"

#include <cgicc/CgiInput.h>
#include <cgicc/Cgicc.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/value_format.h"

namespace {
// Serves cgicc the request as given instead of the process environment and standard
// input, so the caller decides how much of the body was read and which methods count.
class RequestInput : public cgicc::CgiInput {
  public:
    RequestInput(const CgiRequest& request, const char* method)
        : request_(request), method_(method) {}

    size_t read(char* data, size_t length) override {
        size_t left = request_.body.size() - offset_;
        if (length > left) length = left;
        memcpy(data, request_.body.data() + offset_, length);
        offset_ += length;
        return length;
    }

    std::string getenv(const char* name) override {
        if (strcmp(name, "REQUEST_METHOD") == 0) return method_;
        // cgicc would add the query string to a POST form; a POST form is its body alone.
        if (strcmp(name, "QUERY_STRING") == 0)
            return strcmp(method_, "GET") == 0 ? std::string(request_.queryString) : "";
        if (strcmp(name, "CONTENT_TYPE") == 0) return std::string(request_.contentType);
        if (strcmp(name, "CONTENT_LENGTH") == 0) return std::to_string(request_.body.size());
        return std::string();
    }

  private:
    const CgiRequest& request_;
    const char* method_;
    size_t offset_ = 0;
};
}  // namespace

CgiMethod ClassifyCgiMethod(std::string_view method) {
    auto is = [method](const char* name) {
        return method.size() == strlen(name) &&
               strncasecmp(method.data(), name, method.size()) == 0;
    };
    if (method.empty() || is("GET")) return CGI_GET;
    if (is("POST")) return CGI_POST;
    return CGI_OTHER;
}

int ParseCgiForm(const CgiRequest& request, std::vector<FormVariable>* variables,
                 std::string* error) {
    variables->clear();
    CgiMethod method = ClassifyCgiMethod(request.method);
    if (method == CGI_OTHER) return 1;
    RequestInput input(request, method == CGI_POST ? "POST" : "GET");
    try {
        cgicc::Cgicc form(&input);
        for (const cgicc::FormEntry& entry : form.getElements())
            variables->push_back({entry.getName(), entry.getValue()});
    } catch (const std::exception& failure) {
        variables->clear();
        *error = failure.what();
        return 0;
    } catch (...) {
        variables->clear();
        *error = "unknown failure";
        return 0;
    }
    return 1;
}

std::string DecodeFormValue(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '+') {
            decoded += ' ';
            continue;
        }
        if (c == '%' && i + 2 < value.size()) {
            int high = HexDigitValue(value[i + 1]), low = HexDigitValue(value[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        decoded += c;
    }
    return decoded;
}

const CgiBody& ReadCgiBody() {
    static CgiBody* body = nullptr;
    if (body != nullptr) return *body;
    body = new CgiBody{CgiBody::COMPLETE, 0, {}};
    const char* length = getenv("CONTENT_LENGTH");
    if (length == nullptr || length[0] == 0) return *body;
    char* end = nullptr;
    errno = 0;
    body->expected = strtoull(length, &end, 10);
    if (!isdigit(static_cast<unsigned char>(length[0])) || *end != 0 || errno != 0) {
        body->status = CgiBody::BAD_LENGTH;
        return *body;
    }
    if (body->expected > CGI_BODY_LIMIT) {
        body->status = CgiBody::TOO_LONG;
        return *body;
    }
    body->text.resize(static_cast<size_t>(body->expected));
    size_t received = 0;
    while (received < body->text.size()) {
        ssize_t n = read(STDIN_FILENO, body->text.data() + received, body->text.size() - received);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        received += static_cast<size_t>(n);
    }
    if (received < body->text.size()) body->status = CgiBody::SHORT;
    body->text.resize(received);
    return *body;
}

std::string CgiFormVariable(const char* name) {
    auto variable = [](const char* key) -> std::string_view {
        const char* value = getenv(key);
        return value != nullptr ? value : "";
    };
    CgiRequest request{
        variable("REQUEST_METHOD"), variable("QUERY_STRING"), variable("CONTENT_TYPE"), {}};
    if (ClassifyCgiMethod(request.method) == CGI_POST) {
        const CgiBody& posted = ReadCgiBody();
        if (posted.status != CgiBody::COMPLETE) return "";
        request.body = posted.text;
    }
    std::vector<FormVariable> variables;
    std::string error;
    if (!ParseCgiForm(request, &variables, &error)) return "";
    for (const FormVariable& found : variables)
        if (strcasecmp(found.name.c_str(), name) == 0) return found.value;
    return "";
}
