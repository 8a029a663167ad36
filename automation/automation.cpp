// SPDX-License-Identifier: GPL-3.0-or-later
#include "automation/automation.h"

#include <algorithm>
#include <cerrno>

namespace quorvel {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return out;
}

constexpr std::uint32_t kTypeMismatch = 0x80020005u;
constexpr std::uint32_t kMemberNotFound = 0x80020003u;

// Storage failures, as a file operation reports them.
constexpr std::uint32_t kPathNotFound = 0x80030003u;
constexpr std::uint32_t kTooManyOpenFiles = 0x80030004u;
constexpr std::uint32_t kAccessDenied = 0x80030005u;
constexpr std::uint32_t kInsufficientMemory = 0x80030008u;
constexpr std::uint32_t kWriteProtected = 0x80030013u;
constexpr std::uint32_t kWriteFault = 0x8003001Du;
constexpr std::uint32_t kMediumFull = 0x80030070u;

}  // namespace

const std::string &Variant::asString() const {
  if (const auto *s = std::get_if<std::string>(&m_value)) return *s;
  throw OleSysError(kTypeMismatch);
}

std::int32_t Variant::asInt() const {
  if (const auto *i = std::get_if<std::int32_t>(&m_value)) return *i;
  if (const auto *b = std::get_if<bool>(&m_value)) return *b ? -1 : 0;
  throw OleSysError(kTypeMismatch);
}

bool Variant::asBool() const {
  if (const auto *b = std::get_if<bool>(&m_value)) return *b;
  if (const auto *i = std::get_if<std::int32_t>(&m_value)) return *i != 0;
  throw OleSysError(kTypeMismatch);
}

const DispatchPtr &Variant::asObject() const {
  if (const auto *o = std::get_if<DispatchPtr>(&m_value); o && *o) return *o;
  throw OleSysError(kTypeMismatch);
}

std::string systemMessage(std::uint32_t code) {
  switch (code) {
    case kNotImplemented: return "Не реализовано";
    case 0x80004005u: return "Неопознанная ошибка";
    case 0x8007000Eu: return "Недостаточно памяти для завершения операции";
    case 0x80020003u: return "Элемент не найден";
    case 0x80020004u: return "Параметр не найден";
    case 0x80020005u: return "Несоответствие типа";
    case 0x8002000Eu: return "Неверное число параметров";
    case kPathNotFound: return "Не удается найти указанный путь";
    case kTooManyOpenFiles: return "Недостаточно ресурсов для открытия еще одного файла";
    case kAccessDenied: return "Отказано в доступе";
    case kInsufficientMemory: return "Недостаточно памяти для завершения операции";
    case kWriteProtected: return "Диск защищен от записи";
    case kWriteFault: return "Ошибка диска при выполнении операции записи";
    case 0x8003001Eu: return "Не удалось прочитать данные документа";
    case kMediumFull: return "Недостаточно места на диске для завершения операции";
    case 0x80030109u: return "Файл составного документа поврежден";
    default: return {};
  }
}

std::uint32_t fileErrorCode(int posixError) {
  switch (posixError) {
    case ENOSPC:
    case EDQUOT: return kMediumFull;
    case EACCES:
    case EPERM: return kAccessDenied;
    case EROFS: return kWriteProtected;
    case ENOENT:
    case ENOTDIR: return kPathNotFound;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case ENOMEM: return kInsufficientMemory;
    // EIO, and whatever else keeps the bytes from the disk.
    default: return kWriteFault;
  }
}

namespace {

std::string sysErrorText(std::uint32_t code) {
  std::string text = systemMessage(code);
  if (!text.empty()) return text;
  static constexpr char kDigits[] = "0123456789abcdef";
  text = "OLE error ";
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(code >> shift) & 0xFU];
  return text;
}

}  // namespace

OleSysError::OleSysError(std::uint32_t code) : OleError(sysErrorText(code)), m_code(code) {}

std::string trimServerDescription(std::string_view d) {
  while (!d.empty()) {
    const auto c = static_cast<unsigned char>(d.back());
    if (c > 32 && c != '.') break;
    d.remove_suffix(1);
  }
  return std::string(d);
}

OleServerError::OleServerError(std::string_view description) : OleError(trimServerDescription(description)) {}

std::string unsupportedMemberText(std::string_view member) {
  return "Method '" + std::string(member) + "' not supported by automation object";
}

Variant Dispatch::get(std::string_view member) { throw OleError(unsupportedMemberText(member)); }

void Dispatch::set(std::string_view member, const Variant &) {
  throw OleError(unsupportedMemberText(member));
}

Variant Dispatch::call(std::string_view member, const NamedArgs &) {
  throw OleError(unsupportedMemberText(member));
}

void TableDispatch::onGet(std::string_view name, Getter g) { m_members[lower(name)].get = std::move(g); }
void TableDispatch::onSet(std::string_view name, Setter s) { m_members[lower(name)].set = std::move(s); }
void TableDispatch::onCall(std::string_view name, Method m) { m_members[lower(name)].call = std::move(m); }

const TableDispatch::Member *TableDispatch::find(std::string_view name) const {
  auto it = m_members.find(lower(name));
  return it == m_members.end() ? nullptr : &it->second;
}

Variant TableDispatch::get(std::string_view member) {
  const Member *m = find(member);
  if (!m || !m->get) return Dispatch::get(member);
  return m->get();
}

void TableDispatch::set(std::string_view member, const Variant &value) {
  const Member *m = find(member);
  if (!m || !m->set) return Dispatch::set(member, value);
  m->set(value);
}

Variant TableDispatch::call(std::string_view member, const NamedArgs &args) {
  const Member *m = find(member);
  if (!m || !m->call) return Dispatch::call(member, args);
  return m->call(args);
}

const Variant *findArg(const NamedArgs &args, std::string_view name) {
  const std::string key = lower(name);
  for (const auto &a : args)
    if (lower(a.name) == key) return &a.value;
  return nullptr;
}

DispatchPtr getObject(const DispatchPtr &from, std::initializer_list<std::string_view> chain) {
  DispatchPtr obj = from;
  for (auto member : chain) {
    Variant v = obj->get(member);
    if (!v.isObject()) throw OleSysError(kMemberNotFound);
    obj = v.asObject();
  }
  return obj;
}

}  // namespace quorvel
