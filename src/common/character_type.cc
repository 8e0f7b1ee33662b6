#include "common/character_type.h"

#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "common/text.h"

namespace ostrevane {

bool CharacterTypeIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (IEquals(codeset, "UTF-8") || IEquals(codeset, "UTF8"));
}

bool MakeCharacterTypeUtf8() {
  if (!CharacterTypeIsUtf8()) {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "en_US.utf8"})
      if (std::setlocale(LC_CTYPE, name) != nullptr && CharacterTypeIsUtf8()) break;
    if (!CharacterTypeIsUtf8()) return false;
  }
  const std::string in_force = std::setlocale(LC_CTYPE, nullptr);
  if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
    const std::string value = all;
    for (const char* category :
         {"LC_COLLATE", "LC_MESSAGES", "LC_MONETARY", "LC_NUMERIC", "LC_TIME", "LC_PAPER",
          "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
      setenv(category, value.c_str(), 1);
    unsetenv("LC_ALL");
  }
  setenv("LC_CTYPE", in_force.c_str(), 1);
  return true;
}

}  // namespace ostrevane
