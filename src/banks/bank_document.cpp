#include "banks/bank_document.h"

#include <utility>

namespace norva {

const JsonValue *JsonValue::find(const std::string &key) const {
  if (kind != Kind::object) return nullptr;
  const auto member = object.find(key);
  return member == object.end() ? nullptr : &member->second;
}

std::string JsonValue::str(const std::string &key, const std::string &fallback) const {
  const JsonValue *member = find(key);
  return member != nullptr && member->kind == Kind::string ? member->string : fallback;
}

bool JsonValue::numberMember(const std::string &key, double &value) const {
  const JsonValue *member = find(key);
  if (member == nullptr || member->kind != Kind::number) return false;
  value = member->number;
  return true;
}

bool JsonValue::boolMember(const std::string &key, bool &value) const {
  const JsonValue *member = find(key);
  if (member == nullptr || member->kind != Kind::boolean) return false;
  value = member->boolean;
  return true;
}

bool JsonReader::value(JsonValue &out, int depth) {
  out = JsonValue{};
  skipWhitespace(reader_);
  if (depth > kJsonMaxDepth || reader_.cur >= reader_.end) return false;
  switch (*reader_.cur) {
  case '"':
    out.kind = JsonValue::Kind::string;
    return parseString(reader_, &out.string);
  case '[':
    ++reader_.cur;
    out.kind = JsonValue::Kind::array;
    if (consumeByte(reader_, ']')) return true;
    for (;;) {
      if (!value(out.array.emplace_back(), depth + 1)) return false;
      if (consumeByte(reader_, ',')) continue;
      return consumeByte(reader_, ']');
    }
  case '{': {
    out.kind = JsonValue::Kind::object;
    return readObject(reader_, depth, [&](const std::string &name, Reader &, int objectDepth) {
      JsonValue member;
      if (!value(member, objectDepth + 1)) return false;
      out.object.insert_or_assign(name, std::move(member));
      return true;
    });
  }
  default:
    break;
  }
  if (parseNull(reader_)) return true;
  if (parseBool(reader_, &out.boolean)) {
    out.kind = JsonValue::Kind::boolean;
    return true;
  }
  out.kind = JsonValue::Kind::number;
  return parseNumber(reader_, &out.number);
}

bool parseJsonDocument(const void *bytes, size_t length, JsonValue &out) {
  JsonReader reader(static_cast<const char *>(bytes), length);
  return reader.value(out, 0) && reader.atEnd();
}

} // namespace norva
