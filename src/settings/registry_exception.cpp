#include "settings/registry_exception.h"

namespace ferry {

namespace {
std::string TextFor(ERegistryException::Kind kind, const std::string& name) {
    switch (kind) {
    case ERegistryException::Kind::Read:
        return "Failed to get data for '" + name + "'";
    case ERegistryException::Kind::Type:
        return "Invalid data type for '" + name + "'";
    case ERegistryException::Kind::Write:
        break;
    }
    return "Failed to set data for '" + name + "'";
}
} // namespace

ERegistryException::ERegistryException(Kind kind, std::string valueName, LONG code,
                                       std::string detail)
    : Exception(TextFor(kind, valueName)), ErrorKind(kind), ValueName(std::move(valueName)),
      Code(code), Detail(std::move(detail)) {}

ERegistryException ERegistryException::ReadError(const std::string& name, LONG code,
                                                 std::string detail) {
    return ERegistryException(Kind::Read, name, code, std::move(detail));
}

ERegistryException ERegistryException::TypeError(const std::string& name) {
    return ERegistryException(Kind::Type, name);
}

ERegistryException ERegistryException::WriteError(const std::string& name, LONG code,
                                                  std::string detail) {
    return ERegistryException(Kind::Write, name, code, std::move(detail));
}

} // namespace ferry
