#include "platform/ini/Inifile.h"

#include "platform/base/Exception.h"
#include "platform/base/Numbers.h"

#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The name of a "[name]" line, or false when the line is no section header.
bool SectionName(const std::string& line, std::string& name)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// Splits a "key=value" line; false for lines without '='.
bool KeyValue(const std::string& line, std::string& key, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}
}

TIniFile::TIniFile(std::string name) : fileName(std::move(name))
{
    std::ifstream in(fileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
}

int TIniFile::FindSection(const std::string& section) const
{
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i)
        if (SectionName(lines[i], name) && SameName(name, section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::FindKey(int header, const std::string& key) const
{
    std::string name, k, v;
    for (size_t i = static_cast<size_t>(header) + 1; i < lines.size(); ++i) {
        if (SectionName(lines[i], name))
            break;
        if (KeyValue(lines[i], k, v) && SameName(k, key))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    int header = FindSection(section);
    if (header < 0)
        return def;
    int at = FindKey(header, key);
    if (at < 0)
        return def;
    std::string k, v;
    KeyValue(lines[static_cast<size_t>(at)], k, v);
    // A value in matching quotes reads without them, as the profile functions read it.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    std::optional<long long> n = ParseInt(ReadString(section, key, ""));
    if (!n || *n < INT_MIN || *n > INT_MAX)
        return def;
    return static_cast<int>(*n);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(section) >= 0; }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    int header = FindSection(section);
    return header >= 0 && FindKey(header, key) >= 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    std::vector<std::string> text = lines;
    int header = FindSection(section);
    if (header < 0) {
        text.push_back("[" + section + "]");
        text.push_back(key + "=" + value);
    } else if (int at = FindKey(header, key); at >= 0) {
        std::string k, v;
        KeyValue(text[static_cast<size_t>(at)], k, v);
        text[static_cast<size_t>(at)] = k + "=" + value;  // the file's own spelling of the key stays
    } else {
        // After the section's last key, so blank lines and comments before the next section stay there.
        size_t insert = static_cast<size_t>(header) + 1;
        std::string name, k, v;
        for (size_t i = insert; i < text.size() && !SectionName(text[i], name); ++i)
            if (KeyValue(text[i], k, v))
                insert = i + 1;
        text.insert(text.begin() + static_cast<long>(insert), key + "=" + value);
    }
    Save(text);
    lines = std::move(text);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::Save(const std::vector<std::string>& text) const
{
    // The reason is the system's own: a full disk and a missing folder read differently.
    auto failure = [this](int error) {
        return Exception("Unable to write to " + fileName + " (" + std::strerror(error) + ")");
    };
    // A settings file the user made read-only stays untouched, even though the rename below could
    // replace it.
    if (access(fileName.c_str(), F_OK) == 0 && access(fileName.c_str(), W_OK) != 0)
        throw failure(errno);
    std::string temporary = fileName + ".tmp";
    {
        errno = 0;
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            throw failure(errno != 0 ? errno : EIO);
        for (const std::string& line : text)
            out << line << '\n';
        out.close();
        if (out.fail()) {
            const int error = errno != 0 ? errno : EIO;
            std::remove(temporary.c_str());
            throw failure(error);
        }
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw failure(error);
    }
}
