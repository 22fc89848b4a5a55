// file_access.cpp: file identity, state, mapping and partial reads; the only place with
// platform-specific calls (POSIX on Linux, Win32 behind _WIN32).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "internal.h"

#ifdef _WIN32
#include <windows.h>

#include <new>
#else
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nffr {

#ifdef _WIN32

namespace {
std::string FullPath(const char* path)
{
    char buffer[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path, sizeof buffer, buffer, nullptr);
    std::string full = (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string(path);
    for (char& c : full) {
        if (c == '/')
            c = '\\';
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return full;
}
}  // namespace

bool QueryFile(const char* path, std::string* identity, std::string* canonical, DiskState* state,
               std::string* error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (error)
            *error = std::string("cannot open \"") + path + "\"";
        return false;
    }
    state->size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    state->mtimeNs = static_cast<int64_t>(((uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                           data.ftLastWriteTime.dwLowDateTime) *
                                          100);
    state->device = 0;
    state->inode = 0;
    *canonical = FullPath(path);
    *identity = IdentityOf(*state, *canonical);
    return true;
}

std::string IdentityOf(const DiskState&, const std::string& canonical)
{
    return canonical;
}

std::shared_ptr<Mapping> Mapping::Open(const char* path, std::string* error)
{
    std::shared_ptr<Mapping> map(new Mapping());
    // Full sharing, and (below) a copy rather than a mapped view: a writer may replace the file
    // by rename while it is open here, which a mapped view would refuse.
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error)
            *error = std::string("cannot open \"") + path + "\"";
        return nullptr;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || uint64_t(size.QuadPart) > SIZE_MAX) {
        CloseHandle(file);
        if (error)
            *error = std::string("cannot size \"") + path + "\"";
        return nullptr;
    }
    map->size_ = static_cast<size_t>(size.QuadPart);
    FILETIME written;
    if (GetFileTime(file, nullptr, nullptr, &written))
        map->state_.mtimeNs = static_cast<int64_t>(
            ((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime) * 100);
    map->state_.size = map->size_;
    if (map->size_ > 0) {
        DWORD got = 0;
        bool read = false;
        try {
            map->copy_.resize(map->size_);
            read =
                ReadFile(file, map->copy_.data(), static_cast<DWORD>(map->size_), &got, nullptr) &&
                got == map->size_;
        } catch (const std::bad_alloc&) {
            read = false;  // larger than the address space can hold
        }
        if (!read) {
            CloseHandle(file);
            if (error)
                *error = std::string("cannot read \"") + path + "\"";
            return nullptr;
        }
        map->data_ = map->copy_.data();
    }
    CloseHandle(file);
    return map;
}

Mapping::~Mapping()
{
    if (handle_)
        UnmapViewOfFile(handle_);
}

#else

bool QueryFile(const char* path, std::string* identity, std::string* canonical, DiskState* state,
               std::string* error)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = std::string("cannot open \"") + path + "\": not a readable file";
        return false;
    }
    state->size = static_cast<uint64_t>(st.st_size);
    state->mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state->device = static_cast<uint64_t>(st.st_dev);
    state->inode = static_cast<uint64_t>(st.st_ino);
    char* real = realpath(path, nullptr);
    *canonical = real ? real : path;
    free(real);
    *identity = IdentityOf(*state, *canonical);
    return true;
}

std::string IdentityOf(const DiskState& state, const std::string&)
{
    return std::to_string(state.device) + ":" + std::to_string(state.inode);
}

std::shared_ptr<Mapping> Mapping::Open(const char* path, std::string* error)
{
    std::shared_ptr<Mapping> map(new Mapping());
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            close(fd);
        if (error)
            *error = std::string("cannot open \"") + path + "\"";
        return nullptr;
    }
    map->size_ = static_cast<size_t>(st.st_size);
    map->state_.size = static_cast<uint64_t>(st.st_size);
    map->state_.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    map->state_.device = static_cast<uint64_t>(st.st_dev);
    map->state_.inode = static_cast<uint64_t>(st.st_ino);
    if (map->size_ > 0) {
        void* p = mmap(nullptr, map->size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            close(fd);
            if (error)
                *error = std::string("cannot map \"") + path + "\"";
            return nullptr;
        }
        map->data_ = static_cast<const uint8_t*>(p);
        map->handle_ = p;
    }
    close(fd);
    return map;
}

Mapping::~Mapping()
{
    if (handle_)
        munmap(handle_, size_);
}

#endif

bool ReadFilePrefix(const char* path, uint64_t offset, size_t max, std::vector<uint8_t>* out,
                    uint64_t* fileSize)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    long end = ok ? std::ftell(f) : -1;
    ok = end >= 0;
    if (ok) {
        *fileSize = static_cast<uint64_t>(end);
        size_t want = offset >= *fileSize
                          ? 0
                          : static_cast<size_t>(std::min<uint64_t>(max, *fileSize - offset));
        out->resize(want);
        ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
             std::fread(out->data(), 1, want, f) == want;
    }
    std::fclose(f);
    return ok;
}

}  // namespace nffr
