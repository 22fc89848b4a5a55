// parse.cpp: checks and decodes a file image of our layout. Every length, offset and count is
// checked against the image before use; nothing here reads outside [bytes, bytes + size).
#include <cstring>
#include <unordered_set>

#include "internal.h"
#include "nffr_layout.h"

namespace nffr {
namespace {

namespace L = layout;

// True when [offset, offset + length) lies within size, without overflow.
bool Within(uint64_t offset, uint64_t length, uint64_t size)
{
    return offset <= size && length <= size - offset;
}

bool Refuse(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

// Reads the hierarchy records one by one.
class HierarchyReader {
public:
    HierarchyReader(const uint8_t* p, uint64_t size) : p_(p), size_(size) {}
    bool AtEnd() const { return pos_ == size_; }
    uint64_t Pos() const { return pos_; }
    bool Byte(uint8_t* v)
    {
        if (size_ - pos_ < 1)
            return false;
        *v = p_[pos_++];
        return true;
    }
    bool Word(uint32_t* v)
    {
        if (size_ - pos_ < 4)
            return false;
        *v = Get32(p_ + pos_);
        pos_ += 4;
        return true;
    }
    // A name: u32 length, the bytes (no NUL among them), then a NUL.
    bool Name(std::string* name)
    {
        uint32_t length;
        if (!Word(&length) || size_ - pos_ < uint64_t(length) + 1)
            return false;
        const char* text = reinterpret_cast<const char*>(p_ + pos_);
        if (text[length] != '\0' || std::memchr(text, 0, length))
            return false;
        name->assign(text, length);
        pos_ += uint64_t(length) + 1;
        return true;
    }

private:
    const uint8_t* p_;
    uint64_t size_;
    uint64_t pos_ = 0;
};

bool ParseSignals(const uint8_t* bytes, size_t size, Model* model, std::string* error)
{
    const Header& h = model->header;
    if (!Within(h.varTableOffset, uint64_t(h.varCount) * L::kVarEntrySize, size))
        return Refuse(error, "variable table of " + std::to_string(h.varCount) +
                                 " entries lies outside the file");
    model->signals.resize(h.varCount);
    std::unordered_set<int32_t> seen;
    for (uint32_t i = 0; i < h.varCount; ++i) {
        const uint8_t* e = bytes + h.varTableOffset + uint64_t(i) * L::kVarEntrySize;
        Signal& s = model->signals[i];
        s.idcode = static_cast<int32_t>(Get32(e + L::kVarOffIdcode));
        s.varType = e[L::kVarOffVarType];
        s.valueDataType = e[L::kVarOffValueDataType];
        s.bitSize = Get32(e + L::kVarOffBitSize);
        s.valueSize = Get32(e + L::kVarOffValueSize);
        s.changeCount = Get32(e + L::kVarOffChangeCount);
        s.recordedCount = Get32(e + L::kVarOffRecordedCount);
        s.blockOffset = Get64(e + L::kVarOffBlockOffset);
        const uint64_t blockSize = Get64(e + L::kVarOffBlockSize);
        const std::string which =
            "variable " + std::to_string(i) + " (idcode " + std::to_string(s.idcode) + ")";
        if (s.idcode <= 0 || !seen.insert(s.idcode).second)
            return Refuse(error, which + ": idcode not positive or used twice");
        if (h.fileType == 0 && s.valueSize != s.bitSize)
            return Refuse(error, which + ": value size differs from the bit size");
        const uint64_t expected = uint64_t(s.changeCount) * (8 + uint64_t(s.valueSize));
        if (blockSize != expected || !Within(s.blockOffset, blockSize, size))
            return Refuse(error, which + ": change block lies outside the file");
    }
    return true;
}

bool ParseTree(const uint8_t* bytes, Model* model, std::string* error,
               std::vector<std::string>* warnings)
{
    const Header& h = model->header;
    HierarchyReader in(bytes + h.hierOffset, h.hierSize);
    std::vector<std::string> path;
    std::vector<bool> named(model->signals.size(), false);
    uint32_t scopes = 0, vars = 0;
    auto bad = [&](const char* what) {
        return Refuse(error, std::string("hierarchy: ") + what + " at byte " +
                                 std::to_string(h.hierOffset + in.Pos()));
    };
    while (!in.AtEnd()) {
        TreeEntry entry;
        if (!in.Byte(&entry.kind))
            return bad("truncated record");
        if (entry.kind == L::kRecScopeBegin) {
            if (++scopes > h.scopeCount || !in.Name(&entry.name))
                return bad("bad scope record");
            entry.depth = static_cast<uint32_t>(path.size());
            path.push_back(entry.name);
        } else if (entry.kind == L::kRecVar) {
            if (++vars > h.treeVarCount || !in.Word(&entry.signal) || !in.Name(&entry.name) ||
                entry.signal >= model->signals.size())
                return bad("bad variable record");
            if (!named[entry.signal]) {
                std::string full;
                for (const std::string& scope : path)
                    full += scope + ".";
                model->signals[entry.signal].fullName = full + entry.name;
                named[entry.signal] = true;
            }
        } else if (entry.kind == L::kRecScopeEnd) {
            if (path.empty())
                return bad("scope end without a scope");
            path.pop_back();
        } else {
            return bad("unknown record");
        }
        model->tree.push_back(std::move(entry));
    }
    if (scopes != h.scopeCount || vars != h.treeVarCount)
        return Refuse(error, "hierarchy: record counts differ from the header");
    if (!path.empty()) {
        warnings->push_back("hierarchy: " + std::to_string(path.size()) +
                            " scopes left open at the end; closed");
        for (size_t i = 0; i < path.size(); ++i) {
            TreeEntry end;
            end.kind = L::kRecScopeEnd;
            model->tree.push_back(end);
        }
    }
    for (size_t i = 0; i < named.size(); ++i)
        if (!named[i])
            warnings->push_back("idcode " + std::to_string(model->signals[i].idcode) +
                                " has no entry in the hierarchy");
    return true;
}

}  // namespace

bool ParseHeader(const uint8_t* b, size_t available, uint64_t actualSize, Header* h,
                 std::string* error)
{
    if (available < L::kHeaderSize || std::memcmp(b, L::kMagic, sizeof L::kMagic) != 0)
        return Refuse(error, "not an FSDB file of ours (no magic number)");
    if (Get32(b + L::kOffVersion) != L::kVersion)
        return Refuse(error,
                      "unsupported layout version " + std::to_string(Get32(b + L::kOffVersion)));
    if (Get32(b + L::kOffHeaderSize) != L::kHeaderSize)
        return Refuse(error, "bad header size");
    h->fileType = static_cast<int32_t>(Get32(b + L::kOffFileType));
    h->flags = Get32(b + L::kOffFlags);
    h->endTag = Get64(b + L::kOffEndTag);
    h->fileSize = Get64(b + L::kOffFileSize);
    h->hierOffset = Get64(b + L::kOffHierOffset);
    h->hierSize = Get64(b + L::kOffHierSize);
    h->varTableOffset = Get64(b + L::kOffVarTableOffset);
    h->varCount = Get32(b + L::kOffVarCount);
    h->scopeCount = Get32(b + L::kOffScopeCount);
    h->treeVarCount = Get32(b + L::kOffTreeVarCount);
    h->stampLength = Get32(b + L::kOffStampLength);
    h->stampOffset = Get64(b + L::kOffStampOffset);
    if (h->fileSize != actualSize)
        return Refuse(error, "file is " + std::to_string(actualSize) + " bytes, its header says " +
                                 std::to_string(h->fileSize) + " (truncated or extended)");
    if (h->flags & ~L::kFlagStamp)
        return Refuse(error, "unknown header flags");
    const char* unit = reinterpret_cast<const char*>(b + L::kOffUnit);
    if (!std::memchr(unit, 0, L::kUnitSize))
        return Refuse(error, "time unit text not terminated");
    std::memcpy(h->unit, unit, L::kUnitSize);
    if (h->HasStamp() && (h->stampLength > L::kMaxStampLength ||
                          !Within(h->stampOffset, uint64_t(h->stampLength) + 1, actualSize)))
        return Refuse(error, "creation stamp lies outside the file or is too long");
    if (!Within(h->hierOffset, h->hierSize, actualSize))
        return Refuse(error, "hierarchy lies outside the file");
    // Every scope record takes at least 6 bytes and every variable record 10.
    if (uint64_t(h->scopeCount) * 6 + uint64_t(h->treeVarCount) * 10 > h->hierSize)
        return Refuse(error, "hierarchy counts exceed the hierarchy's size");
    return true;
}

bool ParseModel(const uint8_t* bytes, size_t size, Model* model, std::string* error,
                std::vector<std::string>* warnings)
{
    Header& h = model->header;
    if (!ParseHeader(bytes, size, size, &h, error))
        return false;
    if (h.HasStamp()) {
        const char* stamp = reinterpret_cast<const char*>(bytes + h.stampOffset);
        if (stamp[h.stampLength] != '\0' || std::memchr(stamp, 0, h.stampLength))
            return Refuse(error, "creation stamp not terminated where its length says");
        model->stamp.assign(stamp, h.stampLength);
    }
    model->tree.reserve(h.scopeCount * 2 + h.treeVarCount);
    return ParseSignals(bytes, size, model, error) && ParseTree(bytes, model, error, warnings);
}

bool CheckChangeBlock(const uint8_t* bytes, size_t size, const Signal& s, std::string* error)
{
    if (!Within(s.blockOffset, uint64_t(s.changeCount) * 8, size))
        return Refuse(error,
                      "idcode " + std::to_string(s.idcode) + ": change block outside the file");
    const uint8_t* tags = bytes + s.blockOffset;
    for (uint32_t i = 1; i < s.changeCount; ++i)
        if (Get64(tags + 8 * uint64_t(i)) < Get64(tags + 8 * uint64_t(i - 1)))
            return Refuse(error, "idcode " + std::to_string(s.idcode) + ": change " +
                                     std::to_string(i) + " has a tag before the previous one");
    return true;
}

int ReadStampFromDisk(const char* path, std::string* stamp)
{
    std::vector<uint8_t> head;
    uint64_t size = 0;
    Header h;
    if (!ReadFilePrefix(path, 0, L::kHeaderSize, &head, &size) ||
        !ParseHeader(head.data(), head.size(), size, &h, nullptr))
        return -1;
    if (!h.HasStamp())
        return 0;
    std::vector<uint8_t> text;
    uint64_t again = 0;
    if (!ReadFilePrefix(path, h.stampOffset, h.stampLength + 1, &text, &again) ||
        text.size() != h.stampLength + 1u || again != size || text.back() != 0 ||
        std::memchr(text.data(), 0, h.stampLength))
        return -1;
    stamp->assign(reinterpret_cast<const char*>(text.data()), h.stampLength);
    return 1;
}

}  // namespace nffr
