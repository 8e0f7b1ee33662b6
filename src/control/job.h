// The job record: everything one job of a run says, as options gave it and
// expansion completed it. Records are plain values, copied whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/guid.h"

namespace ostrevane {

// A name and a text: an element of the `fields` list (result field name and
// its date-time format) and of the `params` list (SQL parameter and value).
struct tParamRec {
  std::string name;
  std::string value;
};

struct tRec {
  Guid guid;
  DateTime dt = 0;
  std::string line;       // the trimmed list-file line of this job
  int line_no = 0;        // its 1-based line number in the list file (informational)
  std::string cs;         // initialisation string from the data-link file
  std::string s;          // connection string: cs plus any data source
  std::string ss;         // main SQL text
  std::string postss;     // global post-SQL text
  std::string postrecss;  // per-record post-SQL text
  std::string ds;         // data source
  std::string name;       // display name of the data source
  std::string csv;        // CSV output path template
  std::string xml;        // XML output path template
  std::string xmlt;       // XML template file: a job that has one gets no XML
  std::string mailto;
  std::string fdf;  // date pattern of "?DATE"
  std::string ftf;  // time pattern of "?TIME"
  std::string sftpto, sftpl, sftpp;
  std::string httpto, httpl, httpp;
  std::string frtemplate;  // report template of the HTML mail body
  std::string ftpto, ftpl, ftpp;
  std::string ftpdir;
  std::string csvsep;  // field separator (one character)
  std::string csvisl;  // quote character (empty or one character)
  std::vector<std::string> attach;  // files written for this job, in order
  std::vector<tParamRec> fields;
  std::vector<tParamRec> params;
  uint8_t csvcp = 0;  // 1: UTF-16LE with mark; other: 8-bit code page; 255: not given
  bool clear = false;
};

// Resets a record to the state in which no option is given. Leaves guid,
// dt, ds, ftpdir, csvsep, csvisl and attach as they are.
void ClearRec(tRec& r);

}  // namespace ostrevane
