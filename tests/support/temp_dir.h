// temp_dir.h: a fresh folder of a test's own, below $QUORVEL_TEST_TMP (or the system's
// temporary folder), removed with the object.
#ifndef QUORVEL_TEST_TEMP_DIR_H
#define QUORVEL_TEST_TEMP_DIR_H

#include <string>

namespace quorveltest {

class TempDir {
public:
    // The folder's name starts with prefix; a folder that cannot be made fails the test.
    explicit TempDir(const std::string& prefix = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace quorveltest

#endif
