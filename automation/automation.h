// SPDX-License-Identifier: GPL-3.0-or-later
// A small late-bound automation layer: variants, objects that answer
// get / set / call by member name, and the error texts callers see.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvel {

class Dispatch;
using DispatchPtr = std::shared_ptr<Dispatch>;

// An error-typed variant; code 0x80020004 stands for "argument not supplied".
struct ErrorCode {
  std::uint32_t code = 0;
  bool operator==(const ErrorCode &) const = default;
};

inline constexpr std::uint32_t kParamNotFound = 0x80020004u;
// A call the object does not carry out (a verb other than "show", say).
inline constexpr std::uint32_t kNotImplemented = 0x80004001u;

class Variant {
public:
  Variant() = default;  // empty
  Variant(std::string s) : m_value(std::move(s)) {}
  Variant(const char *s) : m_value(std::string(s)) {}
  Variant(std::int32_t i) : m_value(i) {}
  Variant(bool b) : m_value(b) {}
  Variant(DispatchPtr o) : m_value(std::move(o)) {}
  Variant(ErrorCode e) : m_value(e) {}

  static Variant missing() { return Variant(ErrorCode{kParamNotFound}); }

  bool isEmpty() const { return std::holds_alternative<std::monostate>(m_value); }
  bool isString() const { return std::holds_alternative<std::string>(m_value); }
  bool isInt() const { return std::holds_alternative<std::int32_t>(m_value); }
  bool isBool() const { return std::holds_alternative<bool>(m_value); }
  bool isObject() const { return std::holds_alternative<DispatchPtr>(m_value); }
  bool isMissing() const {
    const auto *e = std::get_if<ErrorCode>(&m_value);
    return e && e->code == kParamNotFound;
  }

  // Conversions throw a type-mismatch error like an automation server would.
  const std::string &asString() const;
  std::int32_t asInt() const;  // booleans convert to 0 / -1
  bool asBool() const;         // integers convert, non-zero is true
  const DispatchPtr &asObject() const;

  bool operator==(const Variant &) const = default;

private:
  std::variant<std::monostate, std::string, std::int32_t, bool, DispatchPtr, ErrorCode> m_value;
};

struct NamedArg {
  std::string name;
  Variant value;
  bool byRef = false;
};
using NamedArgs = std::vector<NamedArg>;

// The failures of automation and container calls. `what()` is the text the
// user sees.
class OleError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What a call on a container that holds no document fails with.
inline constexpr const char *kEmptyContainerText = "Operation not allowed on an empty OLE container";

// A failure code without a description of its own: the system's text for the
// code, or "OLE error XXXXXXXX".
class OleSysError : public OleError {
public:
  explicit OleSysError(std::uint32_t code);
  std::uint32_t code() const { return m_code; }

private:
  std::uint32_t m_code;
};

// An exception the server reports with its own description.
class OleServerError : public OleError {
public:
  explicit OleServerError(std::string_view description);
};

// The server's description less trailing control characters, blanks and full stops.
std::string trimServerDescription(std::string_view description);
// The system text for a known failure code; empty when unknown.
std::string systemMessage(std::uint32_t code);
// The storage failure code for a file operation that failed with this errno
// (disk full, no permission, input/output error ...).
std::uint32_t fileErrorCode(int posixError);
std::string unsupportedMemberText(std::string_view member);

// An automation object. Members are looked up by name at call time, without
// regard to case.
class Dispatch {
public:
  virtual ~Dispatch() = default;
  virtual Variant get(std::string_view member);
  virtual void set(std::string_view member, const Variant &value);
  virtual Variant call(std::string_view member, const NamedArgs &args);
};

// A Dispatch whose members are registered in a table by the subclass.
class TableDispatch : public Dispatch {
public:
  Variant get(std::string_view member) override;
  void set(std::string_view member, const Variant &value) override;
  Variant call(std::string_view member, const NamedArgs &args) override;

protected:
  using Getter = std::function<Variant()>;
  using Setter = std::function<void(const Variant &)>;
  using Method = std::function<Variant(const NamedArgs &)>;
  void onGet(std::string_view name, Getter g);
  void onSet(std::string_view name, Setter s);
  void onCall(std::string_view name, Method m);

private:
  struct Member {
    Getter get;
    Setter set;
    Method call;
  };
  const Member *find(std::string_view name) const;
  std::map<std::string, Member> m_members;  // keys in lower case
};

// Reading named arguments on the server side.
const Variant *findArg(const NamedArgs &args, std::string_view name);

// The caller's side: walk a chain of member reads from an object.
DispatchPtr getObject(const DispatchPtr &from, std::initializer_list<std::string_view> chain);

}  // namespace quorvel
