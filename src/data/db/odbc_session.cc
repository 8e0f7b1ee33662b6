#include "data/db/odbc_session.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>

namespace ostrevane::odbc {

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h, bool wide) {
  std::string out;
  for (SQLSMALLINT rec = 1; rec < 20; ++rec) {
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    std::string m;
    if (wide) {
      SQLWCHAR state[6], msg[1024];
      if (!Ok(SQLGetDiagRecW(type, h, rec, state, &native, msg, SQLSMALLINT(std::size(msg)), &len)))
        break;
      m = Trim(Narrow(msg, size_t(std::clamp<int>(len, 0, int(std::size(msg)) - 1))));
    } else {
      SQLCHAR state[6], msg[2048];
      if (!Ok(SQLGetDiagRec(type, h, rec, state, &native, msg, SQLSMALLINT(std::size(msg)), &len)))
        break;
      m = Trim(SanitizeUtf8(std::string_view(
          reinterpret_cast<char*>(msg), size_t(std::clamp<int>(len, 0, int(std::size(msg)) - 1)))));
    }
    if (m.empty() || out.find(m) != std::string::npos) continue;
    if (!out.empty()) out += ' ';
    out += m;
  }
  for (char& c : out)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return out.empty() ? "ODBC call failed without a diagnostic message" : out;
}
bool DriverIsWide(SQLHDBC dbc, std::vector<std::string> names) {
  char name[512] = {};
  SQLSMALLINT len = 0;
  if (Ok(SQLGetInfo(dbc, SQL_DRIVER_NAME, name, sizeof name, &len)) && *name) {
    names.push_back(name);
    names.push_back(std::string("lib") + name);
  }
  for (std::string& n : names) n = n.substr(n.rfind('/') + 1);
  struct Search {
    const std::vector<std::string>* names;
    std::string path;
  } search{&names, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        const std::string base = path.substr(path.rfind('/') + 1);
        for (const std::string& n : *s->names)
          if (!base.empty() && base == n) s->path = path;
        return s->path.empty() ? 0 : 1;
      },
      &search);
  void* lib = search.path.empty() ? nullptr : dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!lib) return true;  // unknown: let the driver manager convert
  // The symbol must come from the driver itself, not from a library it uses.
  bool wide = false;
  link_map* map = nullptr;
  if (void* sym = dlsym(lib, "SQLExecDirectW"); sym && dlinfo(lib, RTLD_DI_LINKMAP, &map) == 0) {
    Dl_info where;
    wide = dladdr(sym, &where) && map && where.dli_fbase == reinterpret_cast<void*>(map->l_addr);
  }
  dlclose(lib);
  return wide;
}

std::vector<std::string> DriverNames(SQLHENV env, const std::string& driver,
                                     const std::string& dsn) {
  std::vector<std::string> names;
  std::string name = driver;
  if (name.size() >= 2 && name.front() == '{' && name.back() == '}')
    name = name.substr(1, name.size() - 2);
  if (name.empty() && !dsn.empty()) {
    SQLWCHAR server[256], description[512];
    SQLSMALLINT server_len, desc_len;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    while (Ok(SQLDataSourcesW(env, dir, server, SQLSMALLINT(std::size(server)), &server_len,
                              description, SQLSMALLINT(std::size(description)), &desc_len))) {
      dir = SQL_FETCH_NEXT;
      if (IEquals(Narrow(server, size_t(server_len)), dsn))
        name = Narrow(description, size_t(desc_len));
    }
  }
  if (name.empty()) return names;
  names.push_back(name);
  SQLWCHAR desc[512], attrs[2048];
  SQLSMALLINT desc_len, attrs_len;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Ok(SQLDriversW(env, dir, desc, SQLSMALLINT(std::size(desc)), &desc_len, attrs,
                        SQLSMALLINT(std::size(attrs)), &attrs_len))) {
    dir = SQL_FETCH_NEXT;
    if (!IEquals(Narrow(desc, size_t(desc_len)), name)) continue;
    // Attributes are "key=value" texts, each ended by a NUL.
    const std::string a = Narrow(attrs, size_t(std::min<int>(attrs_len, int(std::size(attrs)))));
    size_t pos = 0;
    while (pos < a.size()) {
      size_t end = a.find('\0', pos);
      if (end == std::string::npos) end = a.size();
      const std::string item = a.substr(pos, end - pos);
      if (IStartsWith(item, "Driver=")) names.push_back(item.substr(7));
      pos = end + 1;
    }
  }
  return names;
}

}  // namespace ostrevane::odbc
