#include "export/dispatch.h"

#include <map>
#include <mutex>

namespace dispatch {

namespace {

struct ClassTable {
    std::mutex mutex;
    std::map<std::u16string, ClassFactory, std::less<>> factories;
};

ClassTable& Classes() {
    static ClassTable table;
    return table;
}

}  // namespace

DispatchPtr ResultObject(const Variant& result, std::int32_t dispid) {
    if (result.type != VarType::kDispatch || !result.object)
        throw DispatchError(dispid, "the member returned no object");
    return result.object;
}

void RegisterClass(std::u16string progId, ClassFactory factory) {
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    table.factories.insert_or_assign(std::move(progId), std::move(factory));
}

void UnregisterClass(std::u16string_view progId) {
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    if (auto it = table.factories.find(progId); it != table.factories.end())
        table.factories.erase(it);
}

DispatchPtr CreateObject(std::u16string_view progId) {
    ClassFactory factory;
    {
        auto& table = Classes();
        std::lock_guard lock(table.mutex);
        auto it = table.factories.find(progId);
        if (it == table.factories.end())
            return nullptr;
        factory = it->second;
    }
    try {
        return factory();
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace dispatch
