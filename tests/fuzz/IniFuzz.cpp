// libFuzzer target for the settings file: any file text reads without harm, its readers agree with
// each other, and a write reads back, from the object and from the file, without changing any
// other value. The input gives two names, a value and an integer, then the file text.
#include <cstddef>
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/ini/Inifile.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
// No value can hold a line feed, so this default tells "absent" from any stored value.
const std::string absent = "\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool SameName(const std::string& a, const std::string& b)
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Text that a "key=value" line stores as it stands: one line, no blanks at its ends.
bool StoresAsIs(const std::string& text)
{
    return text.find_first_of("\n\r") == std::string::npos &&
           (text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back())));
}

// A section or key name the format can hold: no brackets, no '=', not empty.
bool UsableName(const std::string& name)
{
    return !name.empty() && StoresAsIs(name) && name.find_first_of("[]=") == std::string::npos;
}

// A value that reads back unchanged: in matching quotes it would lose them.
bool UsableValue(const std::string& value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    return StoresAsIs(value) && !quoted;
}

void CheckReaders(const TIniFile& ini, const std::string& section, const std::string& key)
{
    const bool exists = ini.ValueExists(section, key);
    FUZZ_REQUIRE(exists == (ini.ReadString(section, key, absent) != absent));
    FUZZ_REQUIRE(!exists || ini.SectionExists(section));
    if (!exists) {
        FUZZ_REQUIRE(ini.ReadString(section, key, "d") == "d");
        FUZZ_REQUIRE(ini.ReadInteger(section, key, 7) == 7 && ini.ReadInteger(section, key, -8) == -8);
        FUZZ_REQUIRE(ini.ReadBool(section, key, true) && !ini.ReadBool(section, key, false));
    }
    // Either the stored whole number, whatever the default, or the default.
    const int withZero = ini.ReadInteger(section, key, 0), withOne = ini.ReadInteger(section, key, 1);
    FUZZ_REQUIRE(withZero == withOne || (withZero == 0 && withOne == 1));
    FUZZ_REQUIRE(ini.ReadBool(section, key, false) == (withZero != 0));
    FUZZ_REQUIRE(ini.ReadBool(section, key, true) == (withOne != 0));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScratchFile scratch(".ini");
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string other = input.ConsumeRandomLengthString(24);
    const std::string otherKey = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(48);
    const int number = input.ConsumeIntegral<int>();
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::string& path = scratch.Write(text.data(), text.size());

    TIniFile ini(path);
    CheckReaders(ini, section, key);
    CheckReaders(ini, other, otherKey);
    if (!UsableName(section) || !UsableName(key) || !UsableValue(value))
        return 0;

    const bool sameValue = SameName(section, other) && SameName(key, otherKey);
    const std::string before = ini.ReadString(other, otherKey, absent);
    ini.WriteString(section, key, value);
    const TIniFile reread(path);
    for (const TIniFile* after : {static_cast<const TIniFile*>(&ini), &reread}) {
        FUZZ_REQUIRE(after->ReadString(section, key, absent) == value);
        FUZZ_REQUIRE(sameValue || after->ReadString(other, otherKey, absent) == before);
        CheckReaders(*after, section, key);
    }

    ini.WriteInteger(section, key, number);
    const TIniFile again(path);
    FUZZ_REQUIRE(ini.ReadInteger(section, key, number ^ 1) == number);
    FUZZ_REQUIRE(again.ReadInteger(section, key, number ^ 1) == number);
    FUZZ_REQUIRE(again.ReadBool(section, key, number == 0) == (number != 0));
    FUZZ_REQUIRE(sameValue || again.ReadString(other, otherKey, absent) == before);
    return 0;
}
