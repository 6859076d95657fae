// For the window tests: a private X display, an Xvfb server started by the test itself on
// a display number it picks (so tests running side by side never share one).
#pragma once
#include <sys/types.h>

#include <string>

class TestDisplay {
  public:
    TestDisplay() = default;
    ~TestDisplay();  // stops the server
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    // Starts Xvfb with one screen of width x height x 24; false (with *reason) when Xvfb is
    // not installed or does not come up within 10 s.
    bool Start(int width, int height, std::string* reason);
    // ":N", the value for DISPLAY.
    const std::string& Name() const { return name_; }
    // Saves the whole screen as a PNG with ImageMagick's import; false when that fails.
    bool Screenshot(const std::string& path) const;

  private:
    pid_t pid_ = -1;
    std::string name_;
};
