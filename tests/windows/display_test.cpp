#include "windows/display.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace plenoview {
namespace {

// Sets or removes an environment variable for one scope, and puts the old
// value back after it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// No case here needs a display that answers: the tests open no window.
TEST(DisplayAvailable, AsksDisplayAndTrustsWaylandOnlyWithoutIt) {
  const std::string gone = testing::unservedDisplay();
  const std::string goneReason = "DISPLAY \"" + gone + "\" accepts no connection";
  const struct {
    const char* display;
    const char* wayland;
    bool available;
    std::string reason;
  } cases[] = {
      {nullptr, nullptr, false, "DISPLAY and WAYLAND_DISPLAY are unset"},
      {"", "", false, "DISPLAY and WAYLAND_DISPLAY are unset"},
      {nullptr, "wayland-0", true, ""},
      {"", "wayland-0", true, ""},
      {gone.c_str(), nullptr, false, goneReason},
      // The window library would talk X to the display that is gone.
      {gone.c_str(), "wayland-0", false, goneReason},
  };
  for (const auto& c : cases) {
    const ScopedVariable display("DISPLAY", c.display);
    const ScopedVariable wayland("WAYLAND_DISPLAY", c.wayland);
    std::string reason;
    EXPECT_EQ(displayAvailable(&reason), c.available)
        << "DISPLAY " << (c.display ? c.display : "unset") << ", WAYLAND_DISPLAY "
        << (c.wayland ? c.wayland : "unset");
    EXPECT_EQ(reason, c.reason);
  }
}

}  // namespace
}  // namespace plenoview
