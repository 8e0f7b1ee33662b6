#include "data/row_store.h"

#include <cstring>

namespace ostrevane {
namespace {

template <typename T>
void Put(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <typename T>
T Get(const char*& p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  p += sizeof v;
  return v;
}

bool HasText(ValueKind k) {
  return k == ValueKind::kText || k == ValueKind::kDecimal || k == ValueKind::kGuid ||
         k == ValueKind::kBytes;
}

bool HasDouble(ValueKind k) {
  return k == ValueKind::kSingle || k == ValueKind::kDouble || k == ValueKind::kDateTime;
}

}  // namespace

void RowStore::Clear() {
  arena_.clear();
  arena_.shrink_to_fit();
  offsets_.clear();
  offsets_.shrink_to_fit();
}

void RowStore::Append(const std::vector<Value>& row) {
  offsets_.push_back(arena_.size());
  for (const Value& v : row) {
    arena_ += static_cast<char>(v.kind);
    if (v.kind == ValueKind::kNull) continue;
    if (HasText(v.kind)) {
      Put<uint64_t>(arena_, v.s.size());
      arena_.append(v.s);
    } else if (HasDouble(v.kind)) {
      Put<double>(arena_, v.d);
    } else {
      Put<int64_t>(arena_, v.i);
    }
  }
}

void RowStore::Read(size_t index, std::vector<Value>& row) const {
  const char* p = arena_.data() + offsets_[index];
  for (Value& v : row) {
    v.kind = static_cast<ValueKind>(*p++);
    if (v.kind == ValueKind::kNull) {
      v.s.clear();
    } else if (HasText(v.kind)) {
      const uint64_t n = Get<uint64_t>(p);
      v.s.assign(p, n);
      p += n;
    } else if (HasDouble(v.kind)) {
      v.d = Get<double>(p);
    } else {
      v.i = Get<int64_t>(p);
    }
  }
}

}  // namespace ostrevane
