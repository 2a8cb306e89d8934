#include "platform/base/Exception.h"
#include "platform/ini/Inifile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("vultari-ini-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        path = (folder / "Vultari.ini").string();
    }
    void TearDown() override { fs::remove_all(folder); }

    void Write(const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string Read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path folder;
    std::string path;
};

struct ReadCase {
    const char* text;
    const char* section;
    const char* key;
    int def;
    int expected;
};

TEST_F(IniFileTest, ReadIntegerCases)
{
    const ReadCase cases[] = {
        {"", "light_settings", "shader_type", 0, 0},                                  // empty file
        {"[light_settings]\nshader_type=3\n", "light_settings", "shader_type", 0, 3},
        {"[light_settings]\nshader_type=7\n", "light_settings", "shader_type", 0, 7},   // range is the caller's
        {"[light_settings]\nlight_speed=-4\n", "light_settings", "light_speed", 0, -4},
        {"[light_settings]\nshader_type = 2 \n", "light_settings", "shader_type", 0, 2}, // blanks trimmed
        {"[LIGHT_SETTINGS]\nShader_Type=2\n", "light_settings", "shader_type", 0, 2},  // ASCII case ignored
        {"[light_settings]\r\nshader_type=2\r\n", "light_settings", "shader_type", 0, 2}, // CRLF
        {"[light_settings]\nshader_type=abc\n", "light_settings", "shader_type", 5, 5},   // not a number
        {"[light_settings]\nshader_type=2x\n", "light_settings", "shader_type", 5, 5},
        {"[light_settings]\nshader_type=\n", "light_settings", "shader_type", 5, 5},
        {"[light_settings]\nshader_type=1.5\n", "light_settings", "shader_type", 5, 5},
        {"[light_settings]\nshader_type=99999999999\n", "light_settings", "shader_type", 5, 5}, // beyond int
        {"[model]\nshader_type=2\n", "light_settings", "shader_type", 0, 0},            // other section
        {"shader_type=2\n[light_settings]\n", "light_settings", "shader_type", 0, 0},    // before any section
        {"[light_settings]\n[model]\nshader_type=2\n", "light_settings", "shader_type", 0, 0},
        {"[light_settings]\nshader_type=1\nshader_type=2\n", "light_settings", "shader_type", 0, 1}, // first wins
        {"[light_settings]\nshader_type=1\n[light_settings]\nshader_type=2\n", "light_settings", "shader_type", 0, 1},
        {"[light_settings]\nshader_type=\"2\"\n", "light_settings", "shader_type", 0, 2},     // quoted
        {"[light_settings]\nshader_type='3'\n", "light_settings", "shader_type", 0, 3},
        {"[light_settings]\nshader_type=\"2'\n", "light_settings", "shader_type", 5, 5},     // unmatched
        {"[light_settings]\nshader_type=3 ; fast\n", "light_settings", "shader_type", 5, 5},  // no comments after values
        {"; comment\n[light_settings]\n; shader_type=3\nshader_type=2", "light_settings", "shader_type", 0, 2}, // no final line end
    };
    for (const ReadCase& c : cases) {
        Write(c.text);
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadInteger(c.section, c.key, c.def), c.expected) << "file text: " << c.text;
    }
}

TEST_F(IniFileTest, ReadBoolIsNonZeroIntegerWithDefault)
{
    Write("[model]\na=1\nb=0\nc=2\nd=-1\ne=true\nf=\n");
    TIniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("model", "a", false));
    EXPECT_FALSE(ini.ReadBool("model", "b", true));
    EXPECT_TRUE(ini.ReadBool("model", "c", false));
    EXPECT_TRUE(ini.ReadBool("model", "d", false));
    EXPECT_TRUE(ini.ReadBool("model", "e", true));    // not a number: the default
    EXPECT_FALSE(ini.ReadBool("model", "e", false));
    EXPECT_TRUE(ini.ReadBool("model", "f", true));
    EXPECT_FALSE(ini.ReadBool("model", "missing", false));
    EXPECT_TRUE(ini.ReadBool("model", "missing", true));
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsNotCreatedByReading)
{
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("light_settings", "shader_type", 4), 4);
    EXPECT_EQ(ini.ReadString("model", "x", "d"), "d");
    EXPECT_FALSE(ini.SectionExists("model"));
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(IniFileTest, WritesCreateTheSettingsFileInOrder)
{
    TIniFile ini(path);
    ini.WriteInteger("light_settings", "shader_type", 3);
    EXPECT_EQ(Read(), "[light_settings]\nshader_type=3\n");  // each write reaches the file at once
    ini.WriteInteger("light_settings", "light_speed", 20);
    ini.WriteBool("model", "enable_textures", true);
    ini.WriteBool("model", "wireframe", false);
    ini.WriteBool("model", "render_hairs", true);
    EXPECT_EQ(Read(),
              "[light_settings]\nshader_type=3\nlight_speed=20\n"
              "[model]\nenable_textures=1\nwireframe=0\nrender_hairs=1\n");
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    TIniFile again(path);
    EXPECT_EQ(again.ReadInteger("light_settings", "shader_type", 0), 3);
    EXPECT_EQ(again.ReadInteger("light_settings", "light_speed", 0), 20);
    EXPECT_FALSE(again.ReadBool("model", "wireframe", true));
}

TEST_F(IniFileTest, RewritingKeepsForeignLinesAndReplacesInPlace)
{
    Write("; user notes\n[model]\nWireframe = 1\n\n[other]\nx=y\n[light_settings]\nshader_type=7\n");
    TIniFile ini(path);
    ini.WriteInteger("light_settings", "shader_type", 0);
    ini.WriteBool("model", "wireframe", false);
    ini.WriteBool("model", "render_hairs", true);   // new key goes after the section's last key
    ini.WriteInteger("light_settings", "light_speed", 5);
    EXPECT_EQ(Read(),
              "; user notes\n[model]\nWireframe=0\nrender_hairs=1\n\n[other]\nx=y\n"
              "[light_settings]\nshader_type=0\nlight_speed=5\n");
}

TEST_F(IniFileTest, UnwritableFileThrowsAndKeepsState)
{
    // A folder in the way of the file: the rename cannot replace it, whoever runs the test.
    fs::create_directories(path);
    TIniFile blocked(path);
    try {
        blocked.WriteInteger("light_settings", "shader_type", 1);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + path + " (Is a directory)");
    }
    EXPECT_FALSE(blocked.ValueExists("light_settings", "shader_type"));  // nothing half-applied
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    // A missing folder says so.
    const std::string lost = (folder / "no-such-folder" / "Vultari.ini").string();
    TIniFile nowhere(lost);
    try {
        nowhere.WriteBool("model", "wireframe", true);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + lost + " (No such file or directory)");
    }
    EXPECT_FALSE(nowhere.ValueExists("model", "wireframe"));
}

// A full disk says so, and the file keeps what it held (mounting a small file system needs root).
TEST_F(IniFileTest, AFullDiskIsNamedAsSuch)
{
    const fs::path disk = folder / "disk";
    fs::create_directories(disk);
    if (::geteuid() != 0 || ::mount("vultari-test", disk.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "a 16 kB file system cannot be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{disk.string()};
    const std::string file = (disk / "Vultari.ini").string();
    TIniFile ini(file);
    ini.WriteInteger("light_settings", "shader_type", 1);
    const std::string before = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    try {
        ini.WriteString("model", "notes", std::string(64 * 1024, 'n'));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + file + " (No space left on device)");
    }
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), before);
    EXPECT_FALSE(fs::exists(file + ".tmp"));
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileIntact)
{
    Write("[light_settings]\nshader_type=2\n");
    TIniFile ini(path);
    // The temporary file's name is taken by a folder: the write fails before the old file is touched.
    fs::create_directories(path + ".tmp");
    EXPECT_THROW(ini.WriteInteger("light_settings", "shader_type", 3), Exception);
    EXPECT_EQ(Read(), "[light_settings]\nshader_type=2\n");
    EXPECT_EQ(ini.ReadInteger("light_settings", "shader_type", 0), 2);
}
}
