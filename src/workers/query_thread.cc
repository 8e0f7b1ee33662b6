#include "workers/query_thread.h"

namespace ostrevane {

tQueryThread::tQueryThread(ReadyList& aThreadList, ManualResetEvent& aResponseEvent,
                           std::mutex& aFileQueue, WorkerSettings settings)
    : fThreadList(aThreadList),
      fResponseEvent(aResponseEvent),
      ffq(aFileQueue),
      fSettings(std::move(settings)),
      fLog(fSettings.format),
      fThread([this] { Execute(); }) {}

tQueryThread::~tQueryThread() {
  Terminate();
  fJobEvent.Set();
  WaitFinished();
}

void tQueryThread::WaitFinished() {
  if (fThread.joinable()) fThread.join();
}

void tQueryThread::Execute() {
  {
    // The connection and queries live on this thread, for all its jobs.
    Connection fc(fSettings.backend_factory);
    fc.set_connection_timeout(fSettings.connection_timeout);
    fc.set_command_timeout(fSettings.command_timeout);
    Query fq(fc);
    fq.set_command_timeout(fSettings.command_timeout);
    Query frecq(fc);
    for (;;) {
      fJobEvent.Reset();
      // A termination requested while the last job ran must not be lost
      // with the reset above.
      if (fTerminated.load()) break;
      {
        std::lock_guard<std::mutex> lock(fThreadList.mu);
        fThreadList.workers.push_back(this);
      }
      fResponseEvent.Set();
      fJobEvent.Wait();
      if (fTerminated.load()) break;
      fLog.Clear();
      JobResources r{fc, fq, frecq, fa, fSettings, ffq, fLog, fTerminated};
      RunJob(r);
    }
  }
  fFinished.store(true);
}

}  // namespace ostrevane
