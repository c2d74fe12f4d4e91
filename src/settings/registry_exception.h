#pragma once

// The registry errors the settings raise, naming the value.

#include "base/exception.h"
#include "platform/registry.h"

#include <string>

namespace ferry {

// A registry read, type or write failure, naming the value. The message is the text the
// user sees; Code and Detail keep what the registry layer said, for whoever wants more
// (a damaged hive file, for instance, is named in Detail).
class ERegistryException : public Exception {
public:
    enum class Kind { Read, Type, Write };

    ERegistryException(Kind kind, std::string valueName, LONG code = ERROR_SUCCESS,
                       std::string detail = {});

    // "Failed to get data for '%s'"
    static ERegistryException ReadError(const std::string& name, LONG code = ERROR_SUCCESS,
                                        std::string detail = {});
    // "Invalid data type for '%s'"
    static ERegistryException TypeError(const std::string& name);
    // "Failed to set data for '%s'"
    static ERegistryException WriteError(const std::string& name, LONG code = ERROR_SUCCESS,
                                         std::string detail = {});

    Kind ErrorKind;
    std::string ValueName;
    LONG Code;
    std::string Detail;
};

} // namespace ferry
