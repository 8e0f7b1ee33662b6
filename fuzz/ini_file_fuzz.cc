// The INI module: a fuzzed file (any encoding, any lines) gets fuzzed
// writes; what was written reads back equal from the document and, after
// Save(), from the file, within the 2047-unit value cut.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <utility>

#include "common/error.h"
#include "common/text.h"
#include "fuzz_support.h"
#include "settings/ini_file.h"

using namespace ostrevane;

namespace {

// Section and key names from a small alphabet: names a settings file
// really uses, never ones that the line syntax cannot hold.
std::string MakeName(FuzzedDataProvider& input) {
  static constexpr char kLetters[] = "abAB01_ .-";
  std::string name(1, "sSkK"[input.ConsumeIntegralInRange(0, 3)]);
  const size_t length = input.ConsumeIntegralInRange<size_t>(0, 3);
  for (size_t i = 0; i < length; ++i) name += kLetters[input.ConsumeIntegralInRange(0, 9)];
  while (name.back() == ' ') name.pop_back();
  return name;
}

std::string Folded(const std::string& section, const std::string& key) {
  return ToLowerAscii(section) + "\n" + ToLowerAscii(key);
}

// A value reads back as written when it has no blank or control byte at
// either end, is not enclosed in quotes and holds no line break; other
// values are written too, but not checked.
bool ReadsBackAsWritten(const std::string& value) {
  if (value.empty()) return true;
  if (static_cast<unsigned char>(value.front()) <= ' ' ||
      static_cast<unsigned char>(value.back()) <= ' ')
    return false;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return false;
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  return IsValidUtf8(value);
}

bool IsAscii(const std::string& value) {
  for (char c : value)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The value cut to 2047 UTF-16 code units without splitting a pair.
std::string Cut(const std::string& value) {
  std::u16string units = Utf8ToUtf16(value);
  if (units.size() <= 2047) return value;
  units.resize(2047);
  if (units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  return Utf16ToUtf8(units);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string original = input.ConsumeRandomLengthString(1000);
  const std::string path = fuzz::WriteScratchFile("settings.ini", original);

  try {
    IniFile ini(path);
    // (section, key) folded -> the names as written and the value; `checked`
    // tells whether that value must read back as written.
    std::map<std::string, std::pair<std::pair<std::string, std::string>, std::string>> expected;
    std::map<std::string, bool> checked;
    const int writes = input.ConsumeIntegralInRange(1, 8);
    for (int i = 0; i < writes && input.remaining_bytes() > 0; ++i) {
      const std::string section = MakeName(input);
      const std::string key = MakeName(input);
      const std::string folded = Folded(section, key);
      switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
          ini.DeleteKey(section, key);
          expected.erase(folded);
          break;
        case 1: {
          const int32_t n = input.ConsumeIntegral<int32_t>();
          ini.WriteInteger(section, key, n);
          expected[folded] = {{section, key}, std::to_string(n)};
          checked[folded] = true;
          break;
        }
        default: {
          const std::string value = input.ConsumeRandomLengthString(3000);
          ini.WriteString(section, key, value);
          expected[folded] = {{section, key}, value};
          checked[folded] = ReadsBackAsWritten(value);
        }
      }
    }
    // Text beyond ASCII survives only in a Unicode file whose encoding did
    // not change: bytes that are no UTF-8, written into a file without a
    // mark, make it an 8-bit file when it is read again.
    auto check = [&](const IniFile& file) {
      const bool unicode =
          file.encoding() == ini.encoding() && file.encoding() != IniEncoding::kAnsi;
      for (const auto& [folded, entry] : expected) {
        const auto& [names, value] = entry;
        if (!checked[folded] || (!unicode && !IsAscii(value))) continue;
        const std::string got = file.ReadString(names.first, names.second, "\x01missing");
        if (got != Cut(value)) {
          std::fprintf(stderr, "[%s] %s: wrote \"%s\", read \"%s\"\n", names.first.c_str(),
                       names.second.c_str(), value.c_str(), got.c_str());
          fuzz::OracleFailed("a written value does not read back");
        }
      }
    };
    check(ini);
    ini.Save();
    const IniFile reread(path);
    check(reread);
  } catch (const Error&) {
  }
  return 0;
}
