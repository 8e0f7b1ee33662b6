#include "data/connection_string.h"

#include "common/text.h"

namespace ostrevane {
namespace {

bool IsPasswordKey(std::string_view key) { return IEquals(key, "Password") || IEquals(key, "PWD"); }

// Parses one value starting at text[i] (after "="); leaves i after the ";"
// that ends it. Returns the value and whether it was quoted.
std::string ParseValue(std::string_view text, size_t& i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string value;
  if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
    const char q = text[i++];
    while (i < text.size()) {
      if (text[i] == q) {
        if (i + 1 < text.size() && text[i + 1] == q) {
          value += q;
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      value += text[i++];
    }
    while (i < text.size() && text[i] != ';') ++i;
  } else {
    size_t end = text.find(';', i);
    if (end == std::string_view::npos) end = text.size();
    value = Trim(text.substr(i, end - i));
    i = end;
  }
  if (i < text.size()) ++i;  // the ";"
  return value;
}

}  // namespace

ConnectionString::ConnectionString(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      // A piece without "=": no key, skip it.
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Trim(text.substr(i, eq - i));
    i = eq + 1;
    std::string value = ParseValue(text, i);
    if (!key.empty()) entries_.emplace_back(std::move(key), std::move(value));
  }
}

std::string ConnectionString::Get(std::string_view key) const {
  for (const auto& [k, v] : entries_)
    if (IEquals(k, key)) return v;
  return {};
}

bool ConnectionString::Has(std::string_view key) const {
  for (const auto& e : entries_)
    if (IEquals(e.first, key)) return true;
  return false;
}

std::string ConnectionString::Provider() const {
  std::string p = Get("Provider");
  // Version suffixes: "SQLite.1", "MSDASQL.1".
  size_t dot = p.rfind('.');
  if (dot != std::string::npos && dot + 1 < p.size() &&
      p.find_first_not_of("0123456789", dot + 1) == std::string::npos)
    p.resize(dot);
  return p;
}

std::string MaskPasswords(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      size_t end = semi == std::string_view::npos ? text.size() : semi + 1;
      out.append(text.substr(i, end - i));
      i = end;
      continue;
    }
    std::string_view key = text.substr(i, eq - i);
    size_t value_start = eq + 1;
    size_t j = value_start;
    ParseValue(text, j);  // finds where the value (and its ";") ends
    out.append(text.substr(i, value_start - i));
    if (IsPasswordKey(Trim(key))) {
      out += "***";
      if (j > value_start && text[j - 1] == ';') out += ';';
    } else {
      out.append(text.substr(value_start, j - value_start));
    }
    i = j;
  }
  return out;
}

}  // namespace ostrevane
