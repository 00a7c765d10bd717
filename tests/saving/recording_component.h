// A message-file component for tests: it records every call, fails the members it is told
// to fail, and passes the rest on to an inner component (the real one), wrapping the objects
// that come back. Without an inner component, members that return objects give new recording
// objects and a save writes the path into the file, so that the files can be counted.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "export/dispatch.h"

namespace recording {

struct Call {
    int object;  // the object's number, in order of creation; the root is 0
    std::int32_t dispid;
    dispatch::InvokeKind kind;
    std::vector<dispatch::Variant> args;
};

struct Journal {
    std::vector<Call> calls;
    std::set<std::pair<int, std::int32_t>> failing;  // (object number or -1 for any, dispid)
    std::set<std::int32_t> failOnce;                 // members that fail on their next call only
    int objects = 0;
    int created = 0;  // root objects made by the factory

    bool Fails(int object, std::int32_t dispid) {
        if (failOnce.erase(dispid) != 0) {
            return true;
        }
        return failing.count({object, dispid}) != 0 || failing.count({-1, dispid}) != 0;
    }
    // The members called, in order.
    std::vector<std::int32_t> Members() const {
        std::vector<std::int32_t> out;
        for (const Call& c : calls) {
            out.push_back(c.dispid);
        }
        return out;
    }
};

class Object final : public dispatch::DispatchObject {
  public:
    Object(std::shared_ptr<Journal> journal, dispatch::DispatchPtr inner)
        : journal_(std::move(journal)), inner_(std::move(inner)), number_(journal_->objects++) {}

    dispatch::Variant Invoke(std::int32_t dispid, dispatch::InvokeKind kind,
                             std::span<const dispatch::Variant> args) override {
        journal_->calls.push_back({number_, dispid, kind, {args.begin(), args.end()}});
        if (journal_->Fails(number_, dispid)) {
            throw dispatch::DispatchError(dispid, "failed on purpose");
        }
        if (inner_) {
            dispatch::Variant result = inner_->Invoke(dispid, kind, args);
            if (result.type == dispatch::VarType::kDispatch) {
                result.object = std::make_shared<Object>(journal_, result.object);
            }
            return result;
        }
        if (dispid == 72 && !args.empty()) {
            std::ofstream(std::filesystem::path(args[0].str)) << "saved";
            return {};
        }
        if (kind == dispatch::InvokeKind::kPut) {
            return {};
        }
        return dispatch::Variant::Object(std::make_shared<Object>(journal_, nullptr));
    }

  private:
    std::shared_ptr<Journal> journal_;
    dispatch::DispatchPtr inner_;
    int number_;
};

// A factory for the exporter: every root object records into the journal.
inline auto Factory(std::shared_ptr<Journal> journal,
                    std::function<dispatch::DispatchPtr()> inner = nullptr) {
    return [journal, inner](std::u16string_view) -> dispatch::DispatchPtr {
        ++journal->created;
        return std::make_shared<Object>(journal, inner ? inner() : nullptr);
    };
}

}  // namespace recording
