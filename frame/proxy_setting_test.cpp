// The proxy setting: the variable read, its fields, and the user's password found or not;
// a missing password must keep the program from connecting at all.
#include "frame/proxy_setting.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "frame/captured_context.h"

namespace {

class ProxySettingTest : public testing::Test {
  protected:
    ~ProxySettingTest() override { unsetenv("ZYMBSERVERPROXY"); }
    CapturedContext log_;
    ProxySetting setting_;
};

TEST_F(ProxySettingTest, NoVariableIsNoProxy) {
    unsetenv("ZYMBSERVERPROXY");
    EXPECT_EQ(ReadProxySetting(&log_.context, &setting_), 0);
    ASSERT_FALSE(log_.Entries().empty());
    EXPECT_EQ(log_.Entries()[0], "000N Checking for environment variable ZYMBSERVERPROXY");
}

TEST_F(ProxySettingTest, FieldsAndPassword) {
    const struct {
        const char* value;
        const char* host;
        const char* port;
        const char* user;
        int passwordFound;
        const char* password;
    } cases[] = {
        {"proxy:3128", "proxy", "3128", "", 1, ""},
        {"alice:-secret@proxy:3128", "proxy", "3128", "alice", 1, "secret"},
        {"alice:/no/such/password/file@127.0.0.1:1", "127.0.0.1", "1", "alice", 0, ""},
    };
    for (const auto& c : cases) {
        setenv("ZYMBSERVERPROXY", c.value, 1);
        ASSERT_EQ(ReadProxySetting(&log_.context, &setting_), 1) << c.value;
        EXPECT_EQ(setting_.address.host, c.host) << c.value;
        EXPECT_EQ(setting_.address.port, c.port) << c.value;
        EXPECT_EQ(setting_.address.user, c.user) << c.value;
        EXPECT_EQ(setting_.passwordFound, c.passwordFound) << c.value;
        if (c.passwordFound != 0) {
            EXPECT_STREQ(setting_.password, c.password) << c.value;
        }
    }
    // The literal password never reaches the log.
    EXPECT_EQ(log_.Raw().find("secret"), std::string::npos) << log_.Raw();
}

}  // namespace
