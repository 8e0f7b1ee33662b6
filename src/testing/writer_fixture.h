// A result set in memory and a job writing into a temporary folder, for the
// writer tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "control/job.h"
#include "data/dataset.h"
#include "testing/memory_backend.h"
#include "testing/temp_dir.h"

namespace ostrevane::testing {

struct WriterFixture : ::testing::Test {
  std::shared_ptr<MemoryDatabase> db = std::make_shared<MemoryDatabase>();
  Connection conn{MemoryFactory(db)};
  std::unique_ptr<Query> query;
  TempDir dir;
  Job job;

  WriterFixture() {
    job.id = Guid{0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
    job.timestamp = EncodeDateTime(2015, 10, 8, 14, 3, 5, 45);
    job.date_pattern = "YYYYMMDD";
    job.time_pattern = "HHNNSSZZZ";
    job.csv_separator = ";";
    job.csv_quote = "\"";
    job.csv_code_page = 0;
  }

  // Opens a query over these rows, on its first record.
  Query& Open(std::vector<FieldDef> fields, std::vector<std::vector<Value>> rows,
              bool rewindable = false) {
    db->results = {MemoryResult{std::move(fields), std::move(rows)}};
    db->next_result = 0;
    if (!conn.connected()) conn.Open();
    query = std::make_unique<Query>(conn);
    query->set_rewindable(rewindable);
    query->SetSql("select");
    query->Open();
    return *query;
  }
};

// Selects an 8-bit code page for one test and puts UTF-8 back afterwards.
struct CodePageGuard {
  explicit CodePageGuard(const std::string& name) { SetAnsiCodePage(name); }
  ~CodePageGuard() { SetAnsiCodePage("UTF-8"); }
  CodePageGuard(const CodePageGuard&) = delete;
  CodePageGuard& operator=(const CodePageGuard&) = delete;
};

inline Value Bytes(std::string b) {
  Value v;
  v.SetText(b, ValueKind::kBytes);
  return v;
}

}  // namespace ostrevane::testing
