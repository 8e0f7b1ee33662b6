// Field, parameter and placeholder names end to end: the program finds a
// name whatever the case it is written in, for letters outside ASCII too.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/text.h"
#include "testing/run_program.h"
#include "testing/sqlite_db.h"
#include "testing/temp_dir.h"

namespace ostrevane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ListRunNamesTest, NamesMatchWithoutRegardToCaseOutsideAsciiToo) {
  TempDir dir;
  testing::CreateSqliteDatabase(dir / "t.db", R"(
    CREATE TABLE fruit (äpfel VARCHAR(20), sorte VARCHAR(20), größe INTEGER);
    INSERT INTO fruit VALUES ('boskop', 'alt', 3), ('elstar', 'neu', 2), ('gala', 'neu', 1);
    CREATE TABLE seen (name VARCHAR(20), size INTEGER);)");
  testing::WriteUdlFile(dir / "t.udl", testing::SqliteConnectionString("t.db"));
  // The parameter is named in one case in "--param", in another in the
  // statement; the post-record statement names the fields in upper case.
  WriteFile(dir / "q.sql",
            "--param SORTE;ftString;neu\n"
            "SELECT äpfel, sorte, größe FROM fruit WHERE sorte = :Sorte ORDER BY größe");
  WriteFile(dir / "rec2.sql", "INSERT INTO seen VALUES (:ÄPFEL, :GRÖßE)");
  WriteFile(dir / "jobs.txt",
            "-clear -udl:t.udl -sql:q.sql -tocsv:out/:ÄPFEL.csv -fields:GRÖßE;ÄPFEL "
            "-postrecsql:rec2.sql\n");
  const auto r = testing::RunProgram({"-list:jobs.txt"}, dir.path(), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.out;
  ASSERT_EQ(r.out.find("[ERROR]"), std::string::npos) << r.out;
  // One file per record, named by the field's value, with the columns
  // -fields names, in its order (UTF-16, as the CSV writer's default).
  EXPECT_FALSE(std::filesystem::exists(dir / "out/:ÄPFEL.csv"));
  auto utf16 = [](const std::string& text) {
    std::string bytes = "\xFF\xFE";
    AppendUtf16Le(bytes, text);
    return bytes;
  };
  EXPECT_EQ(ReadFile(dir / "out/gala.csv"), utf16("1;gala\r\n"));  // not the last row
  EXPECT_EQ(ReadFile(dir / "out/elstar.csv"), utf16("2;elstar"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out/boskop.csv"));
  EXPECT_EQ(testing::SqliteRows(dir / "t.db", "SELECT name, size FROM seen ORDER BY size"),
            (std::vector<std::vector<std::string>>{{"gala", "1"}, {"elstar", "2"}}));
}

}  // namespace
}  // namespace ostrevane
