// file_access.cpp: file identity and state, and reads at 64-bit offsets through a held handle;
// the only place with platform-specific calls (POSIX on Linux, Win32 behind _WIN32).
#include <cerrno>
#include <cstring>

#include "internal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
static_assert(sizeof(off_t) == 8, "files above 2 GiB need 64-bit offsets (_FILE_OFFSET_BITS=64)");
#endif

namespace nffr {

std::string IdentityOf(const DiskState& state)
{
    return std::to_string(state.device) + ":" + std::to_string(state.inode);
}

#ifdef _WIN32

namespace {

std::wstring Wide(const char* path)
{
    // Paths come in the system's ANSI code page, as Tcl 8.4 hands them to the A functions.
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

int64_t Nanoseconds(const FILETIME& t)
{
    return static_cast<int64_t>(((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100);
}

// Sharing everything lets a writer rename over or delete a file we hold.
HANDLE OpenShared(const char* path)
{
    std::wstring wide = Wide(path);
    if (wide.empty())
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool StateOf(HANDLE file, DiskState* state)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    state->size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state->mtimeNs = Nanoseconds(info.ftLastWriteTime);
    state->ctimeNs = 0;
    state->device = info.dwVolumeSerialNumber;
    state->inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

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
    HANDLE file = OpenShared(path);
    bool ok = file != INVALID_HANDLE_VALUE && StateOf(file, state);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        if (error)
            *error = std::string("cannot open \"") + path + "\": not a readable file";
        return false;
    }
    *canonical = FullPath(path);
    *identity = IdentityOf(*state);
    return true;
}

std::unique_ptr<FileHandle> FileHandle::Open(const char* path, std::string* error)
{
    HANDLE file = OpenShared(path);
    std::unique_ptr<FileHandle> handle(new FileHandle());
    if (file == INVALID_HANDLE_VALUE || !StateOf(file, &handle->state_)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (error)
            *error = std::string("cannot open \"") + path + "\"";
        return nullptr;
    }
    handle->handle_ = file;
    return handle;
}

FileHandle::~FileHandle()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

bool FileHandle::ReadAt(uint64_t offset, void* buffer, size_t size) const
{
    char* out = static_cast<char*>(buffer);
    while (size > 0) {
        OVERLAPPED at;
        std::memset(&at, 0, sizeof at);
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), out, want, &got, &at) || got == 0)
            return false;
        out += got;
        offset += got;
        size -= got;
    }
    return true;
}

bool FileHandle::Now(DiskState* state) const
{
    return StateOf(static_cast<HANDLE>(handle_), state);
}

#else

namespace {

void StateOf(const struct stat& st, DiskState* state)
{
    state->size = static_cast<uint64_t>(st.st_size);
    state->mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state->ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    state->device = static_cast<uint64_t>(st.st_dev);
    state->inode = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

bool QueryFile(const char* path, std::string* identity, std::string* canonical, DiskState* state,
               std::string* error)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = std::string("cannot open \"") + path + "\": not a readable file";
        return false;
    }
    StateOf(st, state);
    char* real = realpath(path, nullptr);
    *canonical = real ? real : path;
    free(real);
    *identity = IdentityOf(*state);
    return true;
}

std::unique_ptr<FileHandle> FileHandle::Open(const char* path, std::string* error)
{
    std::unique_ptr<FileHandle> handle(new FileHandle());
    handle->fd_ = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (handle->fd_ < 0 || fstat(handle->fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = std::string("cannot open \"") + path + "\"";
        return nullptr;
    }
    StateOf(st, &handle->state_);
    return handle;
}

FileHandle::~FileHandle()
{
    if (fd_ >= 0)
        close(fd_);
}

bool FileHandle::ReadAt(uint64_t offset, void* buffer, size_t size) const
{
    char* out = static_cast<char*>(buffer);
    while (size > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX))
            return false;
        const size_t want = size > (size_t(1) << 30) ? (size_t(1) << 30) : size;
        ssize_t got = pread(fd_, out, want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;  // an error, or the file now ends before the bytes asked for
        out += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool FileHandle::Now(DiskState* state) const
{
    struct stat st;
    if (fstat(fd_, &st) != 0)
        return false;
    StateOf(st, state);
    return true;
}

#endif

}  // namespace nffr
