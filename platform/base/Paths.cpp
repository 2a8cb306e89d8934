#include "platform/base/Paths.h"

#include <filesystem>
#include <system_error>

namespace {
std::string& Override()
{
    static std::string folder;
    return folder;
}

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}
}

std::string ProgramFolder()
{
    if (!Override().empty())
        return Override();
    static const std::string folder = [] {
        std::error_code ec;
        std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec)
            return std::string("./");
        return WithSlash(exe.parent_path().string());
    }();
    return folder;
}

void SetProgramFolder(const std::string& folder)
{
    Override() = folder.empty() ? std::string() : WithSlash(folder);
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path.front() == '/';
}

std::string ResolveDataPath(const std::string& path)
{
    return IsAbsolutePath(path) ? path : ProgramFolder() + path;
}
