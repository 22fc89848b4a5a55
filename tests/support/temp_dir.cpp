// temp_dir.cpp: the tests' temporary folders.
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "posix_shims.h"

namespace quorveltest {

TempDir::TempDir(const std::string& prefix)
{
    namespace fs = std::filesystem;
    const char* base = getenv("QUORVEL_TEST_TMP");
    fs::path root = base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path();
    std::error_code error;
    fs::create_directories(root, error);
    std::string pattern = (root / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder below " << root;
        return;
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string TempDir::File(const std::string& name) const
{
    return (std::filesystem::path(path_) / name).string();
}

}  // namespace quorveltest
