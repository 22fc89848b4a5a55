// streamed.cpp: FileWriter::WriteStreamed, which writes the change blocks straight from the
// caller's storage so that a large file never exists as a whole image in memory.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "nffr_layout.h"
#include "nffr_writer.h"

namespace nffr {
namespace {

namespace L = layout;

uint64_t Align8(uint64_t n)
{
    return (n + 7) & ~uint64_t(7);
}

}  // namespace

void BlockOut::Tags(const uint64_t* tags, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        unordered_ = unordered_ || tags[i] < lastTag_;
        lastTag_ = tags[i];
    }
    if (lastTag_ > maxTag_)
        maxTag_ = lastTag_;
    const uint16_t probe = 1;
    if (*reinterpret_cast<const uint8_t*>(&probe) == 1) {
        Values(tags, 8 * n);  // the file's byte order already
        return;
    }
    uint8_t little[8 * 512];
    while (n > 0) {
        const size_t part = n < 512 ? n : 512;
        for (size_t i = 0; i < part; ++i)
            L::Store64(little + 8 * i, tags[i]);
        Values(little, 8 * part);
        tags += part;
        n -= part;
    }
}

void BlockOut::Values(const void* bytes, size_t size)
{
    if (size == 0)
        return;  // an empty block may come with a null pointer
    written_ += std::fwrite(bytes, 1, size, file_);
}

bool FileWriter::WriteStreamed(const std::string& path, const BlockSource& source,
                               std::string* error) const
{
    auto refuse = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    for (int id : order_)
        if (!vars_.at(id).tags.empty())
            return refuse("idcode " + std::to_string(id) + " holds changes of its own");
    // The image without changes has every part but the blocks; their places are filled in here.
    std::vector<uint8_t> head;
    if (!Check(error) || !Layout1Bytes(&head))
        return false;
    const uint64_t tableStart = L::Load64(&head[L::kOffVarTableOffset]);
    head.resize(tableStart + order_.size() * L::kVarEntrySize);  // without padding
    std::vector<uint64_t> offsets(order_.size());
    uint64_t end = head.size();
    for (size_t i = 0; i < order_.size(); ++i) {
        const Var& var = vars_.at(order_[i]);
        const uint32_t count = source.Count(var.idcode);
        const uint32_t recorded = var.countUnknown ? 0 : var.countSet ? var.recordedCount : count;
        const uint64_t size = uint64_t(count) * (8 + ValueSize(var));
        const size_t e = tableStart + i * L::kVarEntrySize;
        offsets[i] = Align8(end);
        L::Store32(head.data() + e + L::kVarOffChangeCount, count);
        L::Store32(head.data() + e + L::kVarOffRecordedCount, recorded);
        L::Store64(head.data() + e + L::kVarOffBlockOffset, offsets[i]);
        L::Store64(head.data() + e + L::kVarOffBlockSize, size);
        end = offsets[i] + size;
    }
    end = end < MinFileSize() ? MinFileSize() : end;
    L::Store64(head.data() + L::kOffFileSize, end);

    const std::string temp = path + ".writing";
    errno = 0;
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file)
        return refuse(CannotWrite(path));
    std::vector<char> buffer(1 << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    BlockOut out;
    out.file_ = file;
    out.Values(head.data(), head.size());
    std::string failure;
    for (size_t i = 0; i < order_.size() && failure.empty(); ++i) {
        static const uint8_t zeros[8] = {};
        out.Values(zeros, offsets[i] - out.written_);
        const uint64_t start = out.written_;
        out.lastTag_ = 0;
        source.Write(order_[i], &out);
        const uint64_t expected =
            L::Load64(&head[tableStart + i * L::kVarEntrySize + L::kVarOffBlockSize]);
        if (out.unordered_)
            failure = "idcode " + std::to_string(order_[i]) + ": tags out of order";
        else if (out.written_ - start != expected && !std::ferror(file))
            failure = "idcode " + std::to_string(order_[i]) + ": a block of " +
                      std::to_string(out.written_ - start) + " bytes where " +
                      std::to_string(expected) + " are expected";
    }
    static const uint8_t padding[4096] = {};
    while (out.written_ < end && failure.empty() && !std::ferror(file))
        out.Values(padding, std::min<uint64_t>(sizeof padding, end - out.written_));
    if (!endTagSet_) {
        uint8_t tag[8];
        L::Store64(tag, out.maxTag_);
        std::fseek(file, L::kOffEndTag, SEEK_SET);
        std::fwrite(tag, 1, sizeof tag, file);
    }
    int err = std::ferror(file) ? (errno ? errno : EIO) : 0;
    if (std::fclose(file) != 0 && !err)
        err = errno ? errno : EIO;
    if (err && failure.empty()) {
        errno = err;
        failure = CannotWrite(path);
    }
    if (!failure.empty()) {
        std::remove(temp.c_str());
        return refuse(failure);
    }
    return ReplaceWith(temp, path, error);
}

}  // namespace nffr
