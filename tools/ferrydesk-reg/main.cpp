// ferrydesk-reg: how a user looks at and edits the registry hives by hand, with the argument
// forms of the Windows reg command:
//
//   ferrydesk-reg query  KEY [/v NAME | /ve] [/s]
//   ferrydesk-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   ferrydesk-reg delete KEY [/v NAME | /ve | /va] [/f]
//   ferrydesk-reg export KEY FILE [/y] [/regedit4]
//   ferrydesk-reg import FILE
//   ferrydesk-reg verify [ROOT]
//
// KEY is ROOT\path with ROOT one of HKLM, HKCU, HKCR, HKU, HKCC or their long names.
// The hives are those of $FERRYDESK_REGISTRY_DIR (see platform/registry.h).

#include "ferrydesk-reg/reg_file.h"
#include "platform/registry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace ferry;

namespace {

constexpr const char* kSuccess = "The operation completed successfully.";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";

int Usage() {
    std::cerr << "ERROR: Invalid syntax.\n"
                 "Usage:\n"
                 "  ferrydesk-reg query  KEY [/v NAME | /ve] [/s]\n"
                 "  ferrydesk-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
                 "  ferrydesk-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
                 "  ferrydesk-reg export KEY FILE [/y] [/regedit4]\n"
                 "  ferrydesk-reg import FILE\n"
                 "  ferrydesk-reg verify [ROOT]\n";
    return 1;
}

int Fail(LONG code) {
    if (code == ERROR_FILE_NOT_FOUND) {
        std::cerr << kNotFound << "\n";
        return 1;
    }
    std::cerr << "ERROR: " << RegErrorMessage(code) << "\n";
    std::string detail = RegLastErrorText();
    if (!detail.empty() && detail != RegErrorMessage(code))
        std::cerr << "       " << detail << "\n";
    return 1;
}

bool Ask(const std::string& question) {
    std::cout << question << " " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

bool SameOption(const std::string& arg, const char* option) {
    if (arg.size() != std::strlen(option))
        return false;
    for (size_t i = 0; i < arg.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(arg[i])) != option[i])
            return false;
    return true;
}

struct Args {
    std::vector<std::string> Positional;
    bool HasV = false, Ve = false, Va = false, S = false, F = false, Y = false, Regedit4 = false;
    bool HasT = false, HasD = false, HasSep = false;
    std::string V, T = "REG_SZ", D, Sep = "\\0";
};

bool ParseArgs(int argc, char** argv, int first, bool sTakesValue, Args& a) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (SameOption(arg, "/v")) {
            if (!value(a.V))
                return false;
            a.HasV = true;
        } else if (SameOption(arg, "/ve")) {
            a.Ve = true;
        } else if (SameOption(arg, "/va")) {
            a.Va = true;
        } else if (SameOption(arg, "/t")) {
            if (!value(a.T))
                return false;
            a.HasT = true;
        } else if (SameOption(arg, "/d")) {
            if (!value(a.D))
                return false;
            a.HasD = true;
        } else if (SameOption(arg, "/s")) {
            if (sTakesValue) {
                if (!value(a.Sep))
                    return false;
                a.HasSep = true;
            } else {
                a.S = true;
            }
        } else if (SameOption(arg, "/f")) {
            a.F = true;
        } else if (SameOption(arg, "/y")) {
            a.Y = true;
        } else if (SameOption(arg, "/regedit4")) {
            a.Regedit4 = true;
        } else if (!arg.empty() && arg[0] == '/' && arg.size() <= 10 &&
                   arg.find('/', 1) == arg.npos && arg.find('\\') == arg.npos &&
                   arg.find('.') == arg.npos) {
            return false; // an option we do not know; a file path would have more in it
        } else {
            a.Positional.push_back(arg);
        }
    }
    return (a.HasV + a.Ve + a.Va) <= 1;
}

bool SplitKey(const std::string& full, HKEY& root, std::string& path) {
    size_t slash = full.find('\\');
    root = RegRootFromName(full.substr(0, slash));
    path = slash == std::string::npos ? "" : full.substr(slash + 1);
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return root != nullptr;
}

struct TypeName {
    DWORD Type;
    const char* Name;
};
constexpr TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},
    {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},
    {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST"},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {REG_QWORD, "REG_QWORD"},
};

std::string TypeText(DWORD type) {
    for (const TypeName& t : kTypes)
        if (t.Type == type)
            return t.Name;
    return "REG_UNKNOWN(" + std::to_string(type) + ")";
}

std::string HexUpper(const std::string& data) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

uint64_t LittleEndian(const std::string& data) {
    uint64_t v = 0;
    for (size_t i = data.size(); i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

std::string DataText(DWORD type, const std::string& data) {
    char buf[32];
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return data.substr(0, data.find('\0'));
    case REG_DWORD:
        if (data.size() != 4)
            break;
        std::snprintf(buf, sizeof buf, "0x%llx",
                      static_cast<unsigned long long>(LittleEndian(data)));
        return buf;
    case REG_QWORD:
        if (data.size() != 8)
            break;
        std::snprintf(buf, sizeof buf, "0x%llx",
                      static_cast<unsigned long long>(LittleEndian(data)));
        return buf;
    case REG_MULTI_SZ: {
        std::string out, s = data;
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        for (char c : s)
            out += c == '\0' ? std::string("\\0") : std::string(1, c);
        return out;
    }
    default:
        break;
    }
    return HexUpper(data);
}

void PrintValue(const std::string& name, DWORD type, const std::string& data) {
    std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeText(type) << "    "
              << DataText(type, data) << "\n";
}

LONG QueryKey(HKEY root, const std::string& path, bool recurse) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key);
    if (r != ERROR_SUCCESS)
        return r;
    std::cout << "\n" << RegFullKeyName(root, path) << "\n";
    // One key's walk is one reading: whether the hive changed is asked once, not per value.
    std::optional<RegReadingScope> reading(std::in_place);
    for (DWORD i = 0;; ++i) {
        std::string name, data;
        DWORD type = 0;
        r = RegEnumValue(key, i, name, &type, &data);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS) {
            RegCloseKey(key);
            return r;
        }
        PrintValue(name, type, data);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        std::string name;
        r = RegEnumKeyEx(key, i, name);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS) {
            RegCloseKey(key);
            return r;
        }
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    reading.reset();
    if (!recurse && !subkeys.empty())
        std::cout << "\n";
    for (const std::string& sub : subkeys) {
        std::string subPath = path.empty() ? sub : path + "\\" + sub;
        if (recurse) {
            r = QueryKey(root, subPath, true);
            if (r != ERROR_SUCCESS)
                return r;
        } else {
            std::cout << RegFullKeyName(root, subPath) << "\n";
        }
    }
    return ERROR_SUCCESS;
}

int Query(const Args& a) {
    HKEY root;
    std::string path;
    if (a.Positional.size() != 1 || !SplitKey(a.Positional[0], root, path))
        return Usage();
    if (a.HasV || a.Ve) {
        HKEY key = nullptr;
        LONG r = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key);
        if (r != ERROR_SUCCESS)
            return Fail(r);
        DWORD type = 0;
        std::string data;
        std::string name = a.Ve ? "" : a.V;
        r = RegQueryValue(key, name, type, data);
        // Shown with the name's stored spelling, whatever spelling was asked for.
        std::string stored, fold = name;
        for (char& c : fold)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (DWORD i = 0;
             r == ERROR_SUCCESS && RegEnumValue(key, i, stored, nullptr, nullptr) == ERROR_SUCCESS;
             ++i) {
            std::string f = stored;
            for (char& c : f)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (f == fold) {
                name = stored;
                break;
            }
        }
        RegCloseKey(key);
        if (r != ERROR_SUCCESS)
            return Fail(r);
        std::cout << "\n" << RegFullKeyName(root, path) << "\n";
        PrintValue(name, type, data);
        std::cout << "\n";
        return 0;
    }
    LONG r = QueryKey(root, path, a.S);
    if (r != ERROR_SUCCESS)
        return Fail(r);
    if (a.S)
        std::cout << "\n";
    return 0;
}

bool ParseHexData(const std::string& text, std::string& out) {
    if (text.size() % 2)
        return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        out += static_cast<char>(std::strtoul(pair, &end, 16));
    }
    return true;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& v) {
    if (text.empty() || text[0] == '-' || text[0] == '+' ||
        std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    v = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && v <= max;
}

bool EncodeData(const Args& a, DWORD& type, std::string& data) {
    type = static_cast<DWORD>(-1);
    std::string upper = a.T;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const TypeName& t : kTypes)
        if (upper == t.Name)
            type = t.Type;
    if (type == static_cast<DWORD>(-1))
        return false;
    data.clear();
    uint64_t v = 0;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        data = a.D + '\0';
        return true;
    case REG_MULTI_SZ: {
        std::string sep = a.Sep;
        size_t start = 0;
        if (!a.D.empty()) {
            while (true) {
                size_t at = sep.empty() ? std::string::npos : a.D.find(sep, start);
                data += a.D.substr(start, at == std::string::npos ? at : at - start);
                data += '\0';
                if (at == std::string::npos)
                    break;
                start = at + sep.size();
            }
        }
        data += '\0';
        return true;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (!ParseNumber(a.D.empty() ? "0" : a.D, 0xFFFFFFFFull, v))
            return false;
        for (int b = 0; b < 4; ++b) {
            int shift = type == REG_DWORD ? 8 * b : 8 * (3 - b);
            data += static_cast<char>((v >> shift) & 0xff);
        }
        return true;
    case REG_QWORD:
        if (!ParseNumber(a.D.empty() ? "0" : a.D, ~0ull, v))
            return false;
        for (int b = 0; b < 8; ++b)
            data += static_cast<char>((v >> (8 * b)) & 0xff);
        return true;
    default:
        return ParseHexData(a.D, data);
    }
}

int Add(const Args& a) {
    HKEY root;
    std::string path;
    if (a.Positional.size() != 1 || !SplitKey(a.Positional[0], root, path) || a.Va)
        return Usage();
    DWORD type = REG_SZ;
    std::string data;
    bool value = a.HasV || a.Ve;
    if (value && !EncodeData(a, type, data)) {
        std::cerr << "ERROR: Invalid data or type: " << a.T << " \"" << a.D << "\"\n";
        return 1;
    }
    HKEY key = nullptr;
    LONG r =
        RegCreateKeyEx(root, path.c_str(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &key, nullptr);
    if (r != ERROR_SUCCESS)
        return Fail(r);
    if (value) {
        std::string name = a.Ve ? "" : a.V;
        DWORD oldType;
        std::string old;
        if (!a.F && RegQueryValue(key, name, oldType, old) == ERROR_SUCCESS &&
            !Ask("Value " + (name.empty() ? std::string("(Default)") : name) +
                 " exists, overwrite(Yes/No)?")) {
            RegCloseKey(key);
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        r = RegSetValue(key, name, type, data);
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS)
        return Fail(r);
    std::cout << kSuccess << "\n";
    return 0;
}

int Delete(const Args& a) {
    HKEY root;
    std::string path;
    if (a.Positional.size() != 1 || !SplitKey(a.Positional[0], root, path))
        return Usage();
    std::string full = RegFullKeyName(root, path);
    LONG r;
    if (a.HasV || a.Ve || a.Va) {
        HKEY key = nullptr;
        r = RegOpenKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
        if (r != ERROR_SUCCESS)
            return Fail(r);
        std::string what = a.Va ? "all values under the registry key " + full
                                : "the registry value " + (a.Ve ? std::string("(Default)") : a.V);
        if (!a.F && !Ask("Delete " + what + " (Yes/No)?")) {
            RegCloseKey(key);
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        if (a.Va) {
            std::vector<std::string> names;
            std::string name;
            for (DWORD i = 0; RegEnumValue(key, i, name, nullptr, nullptr) == ERROR_SUCCESS; ++i)
                names.push_back(name);
            r = ERROR_SUCCESS;
            for (const std::string& n : names)
                if (r == ERROR_SUCCESS)
                    r = RegDeleteValue(key, n.c_str());
        } else {
            r = RegDeleteValue(key, a.Ve ? "" : a.V.c_str());
        }
        RegCloseKey(key);
    } else {
        if (path.empty()) {
            std::cerr << "ERROR: A root key cannot be deleted.\n";
            return 1;
        }
        HKEY key = nullptr;
        r = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key);
        if (r != ERROR_SUCCESS)
            return Fail(r);
        RegCloseKey(key);
        if (!a.F && !Ask("Permanently delete the registry key " + full + " (Yes/No)?")) {
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        r = RegDeleteTree(root, path.c_str());
    }
    if (r != ERROR_SUCCESS)
        return Fail(r);
    std::cout << kSuccess << "\n";
    return 0;
}

int Export(const Args& a) {
    HKEY root;
    std::string path;
    if (a.Positional.size() != 2 || !SplitKey(a.Positional[0], root, path))
        return Usage();
    const std::string& file = a.Positional[1];
    RegFile tree;
    LONG r = CollectRegTree(root, path, tree);
    if (r != ERROR_SUCCESS)
        return Fail(r);
    std::string bytes, error;
    if (!WriteRegFile(tree, !a.Regedit4, bytes, error)) {
        std::cerr << "ERROR: " << error << "\n";
        return 1;
    }
    struct stat st;
    if (!a.Y && stat(file.c_str(), &st) == 0 &&
        !Ask("File " + file + " already exists. Overwrite (Yes/No)?")) {
        std::cout << "The operation was cancelled by the user.\n";
        return 1;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "ERROR: Cannot write " << file << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::cout << kSuccess << "\n";
    return 0;
}

int Import(const Args& a) {
    if (a.Positional.size() != 1)
        return Usage();
    const std::string& file = a.Positional[0];
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "ERROR: Cannot open " << file << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    RegFile parsed;
    std::string error;
    if (!ParseRegFile(ss.str(), parsed, error)) {
        std::cerr << "ERROR: Error parsing " << file << ": " << error
                  << "\nNothing was imported.\n";
        return 1;
    }
    LONG r = ApplyRegFile(parsed, error);
    if (r != ERROR_SUCCESS) {
        std::cerr << "ERROR: " << RegErrorMessage(r) << "\n       " << error << "\n";
        return 1;
    }
    std::cout << kSuccess << "\n";
    return 0;
}

int Verify(const Args& a) {
    if (a.Positional.size() > 1)
        return Usage();
    HKEY root = a.Positional.empty() ? HKEY_LOCAL_MACHINE : RegRootFromName(a.Positional[0]);
    if (!root)
        return Usage();
    std::string report = RegVerifyHive(root);
    std::cout << RegistryHivePath(root) << ": " << report << "\n";
    return report == "ok" ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    std::string command = argv[1];
    for (char& c : command)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Args a;
    if (!ParseArgs(argc, argv, 2, command == "add", a))
        return Usage();
    if (command == "query")
        return Query(a);
    if (command == "add")
        return Add(a);
    if (command == "delete")
        return Delete(a);
    if (command == "export")
        return Export(a);
    if (command == "import")
        return Import(a);
    if (command == "verify")
        return Verify(a);
    return Usage();
}
