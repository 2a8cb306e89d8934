#pragma once
// What the libFuzzer targets share: a failed check that names itself, and a file per process that
// each input is written to (the readers under test take file names).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fuzz {
[[noreturn]] inline void Fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();  // libFuzzer keeps the input as a crash
}

class ScratchFile {
public:
    explicit ScratchFile(const std::string& suffix)
        : path((std::filesystem::temp_directory_path() /
                ("vultari-fuzz-" + std::to_string(::getpid()) + suffix)).string())
    {
    }
    ~ScratchFile()
    {
        std::remove(path.c_str());
        std::remove((path + ".tmp").c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Write(const void* data, size_t size) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out)
            Fail("the scratch file can be written", __FILE__, __LINE__);
        return path;
    }
    const std::string& Path() const { return path; }

private:
    std::string path;
};
}  // namespace fuzz

#define FUZZ_REQUIRE(condition) ((condition) ? void() : ::fuzz::Fail(#condition, __FILE__, __LINE__))
