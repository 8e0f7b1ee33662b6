#include "control/job.h"

namespace ostrevane {

void ClearRec(tRec& r) {
  for (std::string* t : {&r.line, &r.cs, &r.ss, &r.s, &r.csv, &r.xml, &r.xmlt, &r.name,
                         &r.mailto, &r.sftpto, &r.sftpl, &r.sftpp, &r.fdf, &r.ftf, &r.httpto,
                         &r.httpl, &r.httpp, &r.postss, &r.postrecss, &r.frtemplate, &r.ftpto,
                         &r.ftpl, &r.ftpp})
    t->clear();
  r.fields.clear();
  r.params.clear();
  r.clear = false;
  r.csvcp = 255;
}

}  // namespace ostrevane
