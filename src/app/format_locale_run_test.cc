// The default date and time formats under cron (C locale) and in a shell
// (de_DE, en_US): they follow the process locale until settings.ini pins
// one with format_locale, and then every process locale writes the same
// bytes. The log and -check say which locale is in force and why.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/format_settings.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(FormatLocaleRunTest, PinnedLocaleWritesTheSameBytesUnderEveryProcessLocale) {
  struct Locale {
    const char* name;
    const char* at;  // 2025-01-01 00:05:13 in the default date-time format
    const char* formats;
  };
  const Locale locales[] = {
      {"C", "2025-01-01 00:05:13",
       "date \"yyyy-mm-dd\", time \"hh:nn:ss\", date and time \"yyyy-mm-dd hh:nn:ss\", which "
       "writes 2025-12-31 23:59:58 as \"2025-12-31 23:59:58\""},
      {"de_DE.UTF-8", "01.01.2025 00:05:13",
       "date \"dd/mm/yyyy\", time \"hh:nn:ss\", date and time \"dd/mm/yyyy hh:nn:ss\", which "
       "writes 2025-12-31 23:59:58 as \"31.12.2025 23:59:58\""},
      {"en_US.UTF-8", "01/01/2025 12:05:13 AM",
       "date \"mm/dd/yyyy\", time \"hh:nn:ss AMPM\", date and time \"mm/dd/yyyy hh:nn:ss "
       "AMPM\", which writes 2025-12-31 23:59:58 as \"12/31/2025 11:59:58 PM\""},
  };
  std::vector<const Locale*> present;
  std::string missing;
  for (const Locale& locale : locales) {
    if (LocaleIsInstalled(locale.name))
      present.push_back(&locale);
    else
      missing += std::string(" ") + locale.name;
  }

  TempDir dir;
  testing::CreateSqliteDatabase(dir / "t.db", R"(
    CREATE TABLE t (at TIMESTAMP);
    INSERT INTO t VALUES ('2025-01-01 00:05:13');)");
  testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
  WriteFile(dir / "q.sql", "SELECT at FROM t");
  WriteFile(dir / "jobs.txt", "-udl:t.udl -sql:q.sql -tocsv:out.csv -csvcp:0\n");
  const std::string settings = dir / "settings.ini";

  // Not pinned (nullptr), then pinned to each locale in turn.
  std::vector<const Locale*> pins = {nullptr};
  pins.insert(pins.end(), present.begin(), present.end());
  for (const Locale* pin : pins) {
    WriteFile(settings, std::string("[Ostrevane]\nlog_encoding=utf-8\n") +
                            (pin ? std::string("format_locale=") + pin->name + "\n" : ""));
    for (const Locale* process : present) {
      const Locale& in_force = pin ? *pin : *process;
      const std::string row = std::string("pinned ") + (pin ? pin->name : "-") +
                              ", LC_ALL=" + process->name;
      std::filesystem::remove_all(dir / "log");
      const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path(),
                                         {{"LC_ALL", process->name}});
      ASSERT_EQ(r.exit_code, 0) << row << "\n" << r.out;
      EXPECT_EQ(ReadFile(dir / "out.csv"), in_force.at)
          << row;
      const std::string line =
          std::string("Date and time formats of locale \"") + in_force.name + "\" (" +
          (pin ? "format_locale in " + settings
               : std::string("from LC_ALL; format_locale in settings.ini pins the formats of "
                             "one locale")) +
          "): " + in_force.formats;
      EXPECT_NE(testing::RunLogText(dir / "log").find(line), std::string::npos) << row << "\n" << line;
      const auto check = testing::RunProgram({"-list:jobs.txt", "-check"}, dir.path(),
                                             dir.path(), {{"LC_ALL", process->name}});
      EXPECT_EQ(check.exit_code, 0) << row << "\n" << check.out;
      EXPECT_EQ(check.out.rfind(line + "\n", 0), 0u) << row << "\n" << check.out;
    }
  }
  if (!missing.empty())
    GTEST_SKIP() << "this machine lacks the locales" << missing
                 << " (scripts/setup installs de_DE.UTF-8 and en_US.UTF-8); their rows were "
                    "not run";
}

}  // namespace
}  // namespace ostrevane
