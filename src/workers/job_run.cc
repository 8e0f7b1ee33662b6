#include "workers/job_run.h"

#include <exception>

#include "common/datetime.h"
#include "common/error.h"
#include "delivery/delivery.h"
#include "log/log_files.h"
#include "workers/script_runner.h"
#include "workers/sql_macros.h"
#include "writers/csv_writer.h"
#include "writers/xml_writer.h"

namespace ostrevane {
namespace {

const char kJoiner[] = " ";

// Closes the main query on every way out of the result steps.
class CloseOnExit {
 public:
  explicit CloseOnExit(Query& q) : q_(q) {}
  ~CloseOnExit() { q_.Close(); }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  Query& q_;
};

std::string MessageOf(const std::exception& e) { return e.what(); }

// Runs one writer under the writer lock and adds a "saved file " line for
// every file it listed. A failing writer adds no lines.
template <typename Write>
void RunWriter(JobResources& r, Write write) {
  size_t first_new = r.fa.attach.size();
  {
    std::lock_guard<std::mutex> lock(r.writer_lock);
    write();
  }
  if (first_new > r.fa.attach.size()) first_new = 0;  // the CSV writer starts a new list
  for (size_t i = first_new; i < r.fa.attach.size(); ++i)
    r.log.AddMessage("saved file " + r.fa.attach[i], kTagNote);
}

void RunResultJob(JobResources& r) {
  tRec& fa = r.fa;
  const TFormatSettings& fm = r.settings.format;
  Query& fq = r.fq;

  fq.SetSql(fa.ss);
  ReadSqlMacros(fq, fa, false);
  BindParameters(fq.params(), fa, fm, nullptr);
  r.log.AddMessage("executing SQL", kTagNote);
  fq.set_rewindable(NeedsSecondPass(fa));
  fq.Open();
  {
    CloseOnExit close_fq(fq);
    if (fq.RecordCount() == 0) throw Exception("zero records returned");

    if (!fa.csv.empty()) RunWriter(r, [&] { WriteCsv(fa, fq, fm, kJoiner); });
    if (!fa.xml.empty()) RunWriter(r, [&] { WriteXml(fa, fq, fm); });

    if (!fa.attach.empty()) {
      if (!fa.mailto.empty()) {
        SendMail(fa, r.settings.mail, fq);
        r.log.AddMessage("files sent by MAIL to " + fa.mailto, kTagNote);
      }
      if (!fa.httpto.empty()) {
        PostFiles(fa, r.settings.http_proxy);
        r.log.AddMessage("files sent by HTTP to " + fa.httpto, kTagNote);
      }
      if (!fa.ftpto.empty()) {
        PutFiles(fa, r.settings.http_proxy);
        r.log.AddMessage("files sent by FTTP to " + fa.ftpto + "(" + fa.ftpdir + ")", kTagNote);
      }
    }

    if (!fa.postrecss.empty()) {
      fq.First();
      r.frecq.SetSql(fa.postrecss);
      ReadSqlMacros(r.frecq, fa, false);
      for (; !fq.Eof(); fq.Next()) {
        BindParameters(r.frecq.params(), fa, fm, &fq);
        r.frecq.Execute();
      }
      r.log.AddMessage("Post-SQL query for records executed", kTagNote);
    }
  }

  if (!fa.postss.empty()) {
    // The global post-SQL is bound only from its own "--param " lines.
    tRec global;
    ClearRec(global);
    fq.SetSql(fa.postss);
    ReadSqlMacros(fq, global, false);
    BindParameters(fq.params(), global, fm, nullptr);
    fq.Execute();
    r.log.AddMessage("Global post-SQL query executed", kTagNote);
  }
}

}  // namespace

void MessageList::AddMessage(const std::string& text, int tag) {
  lines_.push_back(WorkerLine(NowLocal(), tag, text, fs_));
}

bool NeedsSecondPass(const tRec& job) {
  return (!job.csv.empty() && !job.xml.empty() && job.xmlt.empty()) || !job.postrecss.empty() ||
         (!job.mailto.empty() && !job.frtemplate.empty());
}

void RunJob(JobResources& r) {
  std::string failure;
  bool failed = false;
  try {
    r.fc.set_connection_string(r.fa.s);
    r.fc.Open();
  } catch (const std::exception& e) {
    r.log.AddMessage(MessageOf(e), kTagError);
    return;
  }

  try {
    r.fc.BeginTransaction();
    if (!r.fa.csv.empty() || !r.fa.xml.empty()) {
      RunResultJob(r);
    } else {
      r.log.AddMessage("executing SQL", kTagNote);
      RunScript(r.fq, r.fa, r.settings.format);
    }
    if (r.cancelled.load()) throw Exception("The run ended before this job could be committed");
    r.fc.Commit();
  } catch (const std::exception& e) {
    failed = true;
    failure = MessageOf(e);
    try {
      r.fc.Rollback();
    } catch (const std::exception& rollback_error) {
      failure = MessageOf(rollback_error);
    }
  }

  try {
    r.fc.Close();
  } catch (const std::exception& e) {
    if (!failed) {
      failed = true;
      failure = MessageOf(e);
    }
  }
  if (failed) {
    r.log.AddMessage(failure, kTagError);
    return;
  }
  r.log.AddMessage("Done", kTagNote);
}

}  // namespace ostrevane
