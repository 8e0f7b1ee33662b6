#include "common/error.h"
#include "delivery/delivery.h"

namespace ostrevane {

// Placeholders until delivery lands: a job that names a target fails clearly.
void SendMail(const tRec&, const tMailSettings&, Query&) {
  throw Exception("Mail delivery is not available in this build");
}
void PostFiles(const tRec&, const tPSettings&) {
  throw Exception("HTTP delivery is not available in this build");
}
void PutFiles(const tRec&, const tPSettings&) {
  throw Exception("FTP delivery is not available in this build");
}

}  // namespace ostrevane
