// The CGI form as cgicc reads it from a request, and the program's second decoding.
#include "frame/cgi_form.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(const CgiRequest& request, bool expectSuccess = true) {
    std::vector<FormVariable> variables;
    std::string error;
    EXPECT_EQ(ParseCgiForm(request, &variables, &error), expectSuccess ? 1 : 0) << error;
    Pairs pairs;
    for (const FormVariable& v : variables) pairs.emplace_back(v.name, v.value);
    return pairs;
}

TEST(DecodeFormValue, SecondDecoding) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"a+b", "a b"},
                                                                    {"%41%42", "AB"},
                                                                    {"%2a.dat", "*.dat"},
                                                                    {"%4", "%4"},
                                                                    {"%", "%"},
                                                                    {"100%", "100%"},
                                                                    {"%zz", "%zz"},
                                                                    {"%G1x", "%G1x"},
                                                                    {"%%41", "%A"},
                                                                    {"%00", std::string(1, '\0')},
                                                                    {"", ""},
                                                                    {"%e2%82%ac", "\xe2\x82\xac"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(DecodeFormValue(in), out) << in;
}

TEST(ClassifyCgiMethod, CaseAndAbsence) {
    EXPECT_EQ(ClassifyCgiMethod(""), CGI_GET);
    EXPECT_EQ(ClassifyCgiMethod("get"), CGI_GET);
    EXPECT_EQ(ClassifyCgiMethod("POST"), CGI_POST);
    EXPECT_EQ(ClassifyCgiMethod("Post"), CGI_POST);
    EXPECT_EQ(ClassifyCgiMethod("PUT"), CGI_OTHER);
    EXPECT_EQ(ClassifyCgiMethod("POSTX"), CGI_OTHER);
}

TEST(ParseCgiForm, GetReadsTheQueryStringInOrder) {
    CgiRequest request{"GET", "C=ABCD&f=%2A.dat&S=user%3A-secret%40host%3A6000&C=again&l=1", "",
                       ""};
    Pairs expected = {
        {"C", "ABCD"}, {"f", "*.dat"}, {"S", "user:-secret@host:6000"}, {"C", "again"}, {"l", "1"}};
    EXPECT_EQ(Parse(request), expected);
}

TEST(ParseCgiForm, PostReadsTheBodyNotTheQuery) {
    CgiRequest urlencoded{"POST", "C=fromquery", "application/x-www-form-urlencoded",
                          "C=ABCD&f=a+b"};
    EXPECT_EQ(Parse(urlencoded), (Pairs{{"C", "ABCD"}, {"f", "a b"}}));
    CgiRequest untyped{"post", "", "", "C=X"};
    EXPECT_EQ(Parse(untyped), (Pairs{{"C", "X"}}));
    CgiRequest multipart{"POST", "", "multipart/form-data; boundary=XyZ",
                         "--XyZ\r\nContent-Disposition: form-data; name=\"C\"\r\n\r\nABCD\r\n"
                         "--XyZ--\r\n"};
    EXPECT_EQ(Parse(multipart), (Pairs{{"C", "ABCD"}}));
}

TEST(ParseCgiForm, OtherMethodsGiveNoVariables) {
    for (const char* method : {"PUT", "DELETE", "HEAD", "OPTIONS"}) {
        CgiRequest request{method, "C=ABCD", "", "C=ABCD"};
        EXPECT_TRUE(Parse(request).empty()) << method;
    }
}

TEST(ParseCgiForm, MalformedInputNeverEscapes) {
    const std::string separators(100000, '&');
    const std::vector<CgiRequest> requests = {
        {"GET", "C=%&f=%G1&=x&&==&S=%4", "", ""},
        {"GET", separators, "", ""},
        {"POST", "", "multipart/form-data; boundary=", "--\r\n\r\n"},
        {"POST", "", "multipart/form-data; boundary=B", "--B\r\nContent-Disposition: form-da"},
        {"POST", "", "multipart/form-data", "garbage"},
        {"POST", "", "text/plain", "C=ABCD"},
    };
    for (const CgiRequest& request : requests) {
        std::vector<FormVariable> variables;
        std::string error;
        ParseCgiForm(request, &variables, &error);  // any outcome but a crash or a throw
    }
    const std::string query = "C=" + std::string(50000, 'x') + "&C=short";
    CgiRequest big{"GET", query, "", ""};
    Pairs pairs = Parse(big);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].second.size(), 50000u);
}

}  // namespace
