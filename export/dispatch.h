// Late-bound calls into the message-file component: objects answer invoke(dispid, kind,
// arguments) with variant values, and a failing call raises DispatchError. Objects are
// created from a program id through a process-wide class table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dispatch {

class DispatchObject;
using DispatchPtr = std::shared_ptr<DispatchObject>;

enum class VarType { kEmpty, kI4, kBool, kDate, kBStr, kError, kDispatch };

// The error code a missing optional argument carries.
inline constexpr std::int32_t kParamNotFound = static_cast<std::int32_t>(0x80020004u);

struct Variant {
    VarType type = VarType::kEmpty;
    std::int32_t i4 = 0;  // I4, and the error code of Error
    bool boolean = false;
    double date = 0.0;  // days since midnight, 30 December 1899
    std::u16string str;
    DispatchPtr object;

    static Variant Int(std::int32_t value) {
        Variant v;
        v.type = VarType::kI4;
        v.i4 = value;
        return v;
    }
    static Variant Bool(bool value) {
        Variant v;
        v.type = VarType::kBool;
        v.boolean = value;
        return v;
    }
    static Variant Date(double value) {
        Variant v;
        v.type = VarType::kDate;
        v.date = value;
        return v;
    }
    static Variant String(std::u16string value) {
        Variant v;
        v.type = VarType::kBStr;
        v.str = std::move(value);
        return v;
    }
    // An optional argument left out.
    static Variant Missing() {
        Variant v;
        v.type = VarType::kError;
        v.i4 = kParamNotFound;
        return v;
    }
    static Variant Object(DispatchPtr value) {
        Variant v;
        v.type = VarType::kDispatch;
        v.object = std::move(value);
        return v;
    }
};

enum class InvokeKind { kGet, kPut, kMethod };

// A failed invocation, with the member it was made on.
class DispatchError : public std::runtime_error {
  public:
    DispatchError(std::int32_t dispid, const std::string& what)
        : std::runtime_error(what), dispid_(dispid) {}
    std::int32_t dispid() const { return dispid_; }

  private:
    std::int32_t dispid_;
};

class DispatchObject {
  public:
    virtual ~DispatchObject() = default;
    // Throws DispatchError when the member is unknown, the arguments do not fit, or the
    // operation fails.
    virtual Variant Invoke(std::int32_t dispid, InvokeKind kind, std::span<const Variant> args) = 0;
};

// Holds one object reference; giving it a new object or releasing it drops the old one.
class DispatchHolder {
  public:
    DispatchHolder() = default;
    DispatchHolder& operator=(DispatchPtr object) {
        object_ = std::move(object);
        return *this;
    }
    void Release() { object_.reset(); }
    bool empty() const { return !object_; }
    DispatchObject* get() const { return object_.get(); }
    DispatchObject* operator->() const { return object_.get(); }

  private:
    DispatchPtr object_;
};

// The object a get or method returned; DispatchError when it is not an object.
DispatchPtr ResultObject(const Variant& result, std::int32_t dispid);

using ClassFactory = std::function<DispatchPtr()>;

// The process-wide class table. Registering a program id again replaces its factory.
void RegisterClass(std::u16string progId, ClassFactory factory);
void UnregisterClass(std::u16string_view progId);
// A new object of the class, or nullptr when the program id is unknown or creation failed.
DispatchPtr CreateObject(std::u16string_view progId);

}  // namespace dispatch
