#include "app/switches.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(SwitchTest, LookupAndValues) {
  struct {
    std::vector<std::string> args;
    const char* name;
    bool found;
    const char* value;
  } cases[] = {
      {{"-list:jobs.txt"}, "list", true, "jobs.txt"},
      {{"/LIST:jobs.txt"}, "list", true, "jobs.txt"},
      {{"-listjobs.txt"}, "list", true, "jobs.txt"},
      {{"-list::x"}, "list", true, ":x"},
      {{"-listing"}, "list", true, "ing"},
      {{"-list", "jobs.txt"}, "list", true, "jobs.txt"},
      {{"-list", "-x"}, "list", true, ""},
      {{"-list"}, "list", true, ""},
      {{"list", "x"}, "list", false, ""},
      {{"-setmailpwd", "abc"}, "setmailpwd", true, "abc"},
      {{"/SETMAILPWD", "abc"}, "setmailpwd", true, "abc"},
      {{"setmailpwd", "abc"}, "setmailpwd", false, ""},
      {{"-a", "-list:1", "-list:2"}, "list", true, "1"},
      {{"-sethttpproxypwd:x"}, "sethttppwd", false, ""},
      // After "/" only a command's whole name (or name and ":") is a command.
      {{"-list", "/srv/jobs.txt"}, "list", true, "/srv/jobs.txt"},
      {{"-setmailpwd", "/abc"}, "setmailpwd", true, "/abc"},
      {{"/listing"}, "list", false, ""},
      {{"/list", "/check"}, "list", true, ""},
  };
  for (const auto& c : cases) {
    std::string value = "unchanged";
    EXPECT_EQ(FindSwitch(c.args, c.name, value), c.found) << c.args[0];
    EXPECT_EQ(value, c.value) << c.args[0];
  }
}

TEST(SwitchTest, HelpMustBeTheWholeParameter) {
  EXPECT_TRUE(HasHelpSwitch({"-list:x", "-Help"}));
  EXPECT_TRUE(HasHelpSwitch({"/HELP"}));
  EXPECT_FALSE(HasHelpSwitch({"-helpme"}));
  EXPECT_FALSE(HasHelpSwitch({"help"}));
  EXPECT_TRUE(HasHelpSwitch({"--help"}));
  EXPECT_TRUE(HasHelpSwitch({"-h"}));
  EXPECT_FALSE(HasHelpSwitch({"-hx"}));
}

}  // namespace
}  // namespace ostrevane
