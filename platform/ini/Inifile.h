#pragma once
// A small reader and writer of profile-style settings files:
//
//     [section]
//     key=value
//
// Section and key names compare without regard to ASCII case and the first match wins; names and
// values are trimmed of blanks, and a value in matching quotes reads without them. Integers are
// decimal; booleans are written as 1 or 0 and read as true for any non-zero integer. A missing
// file, section or key, or a value that is not a whole number, reads as the caller's default. Lines the class does not understand (comments, other
// sections, other keys) are kept as they are when the file is rewritten.
//
// Every write goes to the file at once: the whole text is written to a temporary file beside it
// and renamed over it, so a failed write never leaves a half-written settings file. A write that
// cannot be completed throws Exception ("Unable to write to <file>") and leaves the file and the
// object's contents as they were.
#include <string>
#include <vector>

class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    // Index of the section's header line, -1 when absent.
    int FindSection(const std::string& section) const;
    // Index of the key's line inside the section that starts at `header`, -1 when absent.
    int FindKey(int header, const std::string& key) const;
    void Save(const std::vector<std::string>& text) const;

    std::string fileName;
    std::vector<std::string> lines;  // the file's lines without their line ends
};
