// writer.cpp: FileWriter, which lays out FSDB files as nffr_layout.h describes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "meta_codec.h"
#include "nffr_layout.h"
#include "nffr_writer.h"
#include "segment_codec.h"

namespace nffr {
namespace {

namespace L = layout;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    L::Store32(b.data() + at, v);
}

void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v)
{
    L::Store64(b.data() + at, v);
}

void Append32(std::vector<uint8_t>& b, uint32_t v)
{
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, v);
}

void AppendName(std::vector<uint8_t>& b, const std::string& name)
{
    Append32(b, static_cast<uint32_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
}

bool BitByte(char c, uint8_t* out)
{
    switch (c) {
    case '0': *out = 0; return true;
    case '1': *out = 1; return true;
    case 'x':
    case 'X': *out = 2; return true;
    case 'z':
    case 'Z': *out = 3; return true;
    default: return false;
    }
}

}  // namespace

void FileWriter::SetLayout(int layout)
{
    if (layout < 1 || layout > 3)
        Fail("unknown layout " + std::to_string(layout));
    else
        layout_ = layout;
}

void FileWriter::SetFileType(uint32_t type)
{
    fileType_ = type;
}

void FileWriter::SetTimeUnit(std::string unit)
{
    if (unit.size() >= L::kUnitSize || unit.find('\0') != std::string::npos)
        Fail("time unit longer than 127 characters or holding NUL");
    unit_ = std::move(unit);
}

void FileWriter::SetEndTag(uint64_t tag)
{
    endTagSet_ = true;
    endTag_ = tag;
}

void FileWriter::SetStamp(std::string stamp)
{
    if (stamp.size() > L::kMaxStampLength || stamp.find('\0') != std::string::npos)
        Fail("stamp longer than 2047 characters or holding NUL");
    hasStamp_ = true;
    stamp_ = std::move(stamp);
}

void FileWriter::ClearStamp()
{
    hasStamp_ = false;
    stamp_.clear();
}

void FileWriter::BeginScope(std::string name)
{
    if (name.find('\0') != std::string::npos)
        Fail("scope name holding NUL");
    tree_.push_back({L::kRecScopeBegin, std::move(name), 0});
    ++depth_;
}

void FileWriter::EndScope()
{
    if (depth_ == 0) {
        Fail("upscope without an open scope");
        return;
    }
    tree_.push_back({L::kRecScopeEnd, std::string(), 0});
    --depth_;
}

int FileWriter::AddVar(const std::string& name, uint8_t varType, uint32_t bitSize,
                       uint8_t valueDataType, int idcode)
{
    if (idcode == 0) {
        while (vars_.count(nextId_))
            ++nextId_;
        idcode = nextId_;
    }
    if (idcode < 0 || vars_.count(idcode)) {
        Fail("idcode " + std::to_string(idcode) + " already in use or negative");
        return 0;
    }
    if (name.find('\0') != std::string::npos)
        Fail("variable name holding NUL");
    Var& var = vars_[idcode];
    var.idcode = idcode;
    var.varType = varType;
    var.bitSize = bitSize;
    var.valueDataType = valueDataType;
    order_.push_back(idcode);
    tree_.push_back({L::kRecVar, name, idcode});
    return idcode;
}

void FileWriter::AddAlias(const std::string& name, int idcode)
{
    if (!Find(idcode)) {
        Fail("alias of unknown idcode " + std::to_string(idcode));
        return;
    }
    if (name.find('\0') != std::string::npos)
        Fail("alias name holding NUL");
    tree_.push_back({L::kRecVar, name, idcode});
}

void FileWriter::RemoveVar(int idcode)
{
    if (vars_.erase(idcode) == 0)
        return;
    order_.erase(std::find(order_.begin(), order_.end(), idcode));
    std::deque<TreeRecord> kept;
    for (TreeRecord& rec : tree_) {
        if (rec.kind == L::kRecVar && rec.idcode == idcode)
            continue;
        if (rec.kind == L::kRecScopeEnd && !kept.empty() && kept.back().kind == L::kRecScopeBegin)
            kept.pop_back();
        else
            kept.push_back(std::move(rec));
    }
    tree_.swap(kept);
}

void FileWriter::SetCountUnknown(int idcode)
{
    if (Var* var = Find(idcode)) {
        var->countUnknown = true;
        var->countSet = false;
    }
}

void FileWriter::SetRecordedCount(int idcode, uint32_t n)
{
    if (Var* var = Find(idcode)) {
        var->countSet = true;
        var->countUnknown = false;
        var->recordedCount = n;
    }
}

void FileWriter::AddChange(int idcode, uint64_t tag, std::vector<uint8_t> bytes)
{
    Var* var = Find(idcode);
    if (!var)
        return;
    if (!var->tags.empty() && tag < var->tags.back()) {
        Fail("tag " + std::to_string(tag) + " before the previous change of idcode " +
             std::to_string(idcode));
        return;
    }
    var->tags.push_back(tag);
    var->values.push_back(std::move(bytes));
}

void FileWriter::AddReal(int idcode, uint64_t tag, double v)
{
    const Var* var = Find(idcode);
    if (!var)
        return;
    std::vector<uint8_t> bytes;
    if (var->valueDataType == 2) {
        float f = static_cast<float>(v);
        bytes.resize(sizeof f);
        std::memcpy(bytes.data(), &f, sizeof f);
    } else {
        bytes.resize(sizeof v);
        std::memcpy(bytes.data(), &v, sizeof v);
    }
    AddChange(idcode, tag, std::move(bytes));
}

void FileWriter::AddBits(int idcode, uint64_t tag, const std::string& bits)
{
    std::vector<uint8_t> bytes(bits.size());
    for (size_t i = 0; i < bits.size(); ++i) {
        if (!BitByte(bits[i], &bytes[i])) {
            Fail("bit value \"" + bits + "\" holds a character other than 0 1 x z");
            return;
        }
    }
    AddChange(idcode, tag, std::move(bytes));
}

bool FileWriter::HasVar(int idcode) const
{
    return vars_.count(idcode) != 0;
}

bool FileWriter::HoldsReals(int idcode) const
{
    auto it = vars_.find(idcode);
    return it != vars_.end() && fileType_ == 1 && it->second.varType != 0;
}

uint64_t FileWriter::MinFileSize() const
{
    uint64_t size = 0;
    for (const auto& entry : vars_)
        if (!HoldsReals(entry.first) && entry.second.bitSize > size)
            size = entry.second.bitSize;
    return size;
}

uint32_t FileWriter::ValueSize(const Var& var) const
{
    if (HoldsReals(var.idcode))
        return var.valueDataType == 2 ? 4 : 8;
    return var.bitSize;
}

FileWriter::Var* FileWriter::Find(int idcode)
{
    auto it = vars_.find(idcode);
    if (it == vars_.end()) {
        Fail("unknown idcode " + std::to_string(idcode));
        return nullptr;
    }
    return &it->second;
}

void FileWriter::Fail(const std::string& message)
{
    errors_.push_back(message);
}

// The bytes Bytes() will produce at the most.
size_t FileWriter::ImageSize() const
{
    size_t size = L::kHeaderSize + stamp_.size() + 1 + depth_ + 7;
    for (const TreeRecord& rec : tree_)
        size += 1 + (rec.kind == L::kRecScopeEnd ? 0 : 9 + rec.name.size());
    for (const auto& entry : vars_) {
        size += L::kVarEntrySize + 7 + 8 * entry.second.tags.size();
        for (const auto& value : entry.second.values)
            size += value.size();
    }
    return size;
}

bool FileWriter::Check(std::string* error) const
{
    auto refuse = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    if (!errors_.empty())
        return refuse(errors_.front());
    for (int id : order_) {
        const Var& var = vars_.at(id);
        for (const auto& value : var.values)
            if (value.size() != ValueSize(var))
                return refuse("idcode " + std::to_string(id) + ": a value of " +
                              std::to_string(value.size()) + " bytes where " +
                              std::to_string(ValueSize(var)) + " are expected");
    }
    return true;
}

void FileWriter::PutHeader(std::vector<uint8_t>& b, uint32_t version) const
{
    std::memcpy(b.data() + L::kOffMagic, L::kMagic, sizeof L::kMagic);
    Put32(b, L::kOffVersion, version);
    Put32(b, L::kOffHeaderSize, L::HeaderSize(version));
    Put32(b, L::kOffFileType, fileType_);
    Put32(b, L::kOffFlags, hasStamp_ ? L::kFlagStamp : 0);
    std::memcpy(b.data() + L::kOffUnit, unit_.data(), unit_.size());
}

void FileWriter::AppendStampAndTree(std::vector<uint8_t>& b, uint64_t base,
                                    std::vector<uint8_t>& header) const
{
    if (hasStamp_) {
        Put32(header, L::kOffStampLength, static_cast<uint32_t>(stamp_.size()));
        Put64(header, L::kOffStampOffset, base + b.size());
        b.insert(b.end(), stamp_.begin(), stamp_.end());
        b.push_back(0);
    }
    std::map<int, uint32_t> index;
    for (size_t i = 0; i < order_.size(); ++i)
        index[order_[i]] = static_cast<uint32_t>(i);
    const size_t hierStart = b.size();
    uint32_t scopes = 0, treeVars = 0;
    for (const TreeRecord& rec : tree_) {
        b.push_back(rec.kind);
        if (rec.kind == L::kRecScopeBegin) {
            AppendName(b, rec.name);
            ++scopes;
        } else if (rec.kind == L::kRecVar) {
            Append32(b, index[rec.idcode]);
            AppendName(b, rec.name);
            ++treeVars;
        }
    }
    for (int open = depth_; open > 0; --open)
        b.push_back(L::kRecScopeEnd);
    Put64(header, L::kOffHierOffset, base + hierStart);
    Put64(header, L::kOffHierSize, b.size() - hierStart);
    Put32(header, L::kOffScopeCount, scopes);
    Put32(header, L::kOffTreeVarCount, treeVars);
    while ((base + b.size()) % 8)
        b.push_back(0);
    Put64(header, L::kOffVarTableOffset, base + b.size());
    Put32(header, L::kOffVarCount, static_cast<uint32_t>(order_.size()));
}

void FileWriter::PutVarEntry(std::vector<uint8_t>& b, size_t e, const Var& var,
                             uint32_t count) const
{
    const uint32_t recorded = var.countUnknown ? 0 : var.countSet ? var.recordedCount : count;
    Put32(b, e + L::kVarOffIdcode, static_cast<uint32_t>(var.idcode));
    b[e + L::kVarOffVarType] = var.varType;
    b[e + L::kVarOffValueDataType] = var.valueDataType;
    Put32(b, e + L::kVarOffBitSize, var.bitSize);
    Put32(b, e + L::kVarOffValueSize, ValueSize(var));
    Put32(b, e + L::kVarOffChangeCount, count);
    Put32(b, e + L::kVarOffRecordedCount, recorded);
}

bool FileWriter::Bytes(std::vector<uint8_t>* out, std::string* error) const
{
    if (!Check(error))
        return false;
    return layout_ == 1 ? Layout1Bytes(out) : Layout2Bytes(out, error);
}

bool FileWriter::Layout1Bytes(std::vector<uint8_t>* out) const
{
    std::vector<uint8_t>& b = *out;
    b.assign(L::kHeaderSize, 0);
    b.reserve(ImageSize());  // one allocation, no doubling copy of a large image
    PutHeader(b, L::kVersion);
    AppendStampAndTree(b, 0, b);
    const size_t tableStart = b.size();
    b.resize(tableStart + order_.size() * L::kVarEntrySize, 0);

    uint64_t lastTag = 0;
    for (size_t i = 0; i < order_.size(); ++i) {
        const Var& var = vars_.at(order_[i]);
        const size_t e = tableStart + i * L::kVarEntrySize;
        PutVarEntry(b, e, var, static_cast<uint32_t>(var.tags.size()));
        while (b.size() % 8)
            b.push_back(0);
        const size_t blockStart = b.size();
        for (uint64_t tag : var.tags) {
            b.resize(b.size() + 8);
            Put64(b, b.size() - 8, tag);
            if (tag > lastTag)
                lastTag = tag;
        }
        for (const auto& value : var.values)
            b.insert(b.end(), value.begin(), value.end());
        Put64(b, e + L::kVarOffBlockOffset, blockStart);
        Put64(b, e + L::kVarOffBlockSize, b.size() - blockStart);
    }
    Put64(b, L::kOffEndTag, endTagSet_ ? endTag_ : lastTag);
    if (b.size() < MinFileSize())
        b.resize(MinFileSize(), 0);
    Put64(b, L::kOffFileSize, b.size());
    return true;
}

void FileWriter::AppendSegments(const Var& var, std::vector<uint8_t>& b, SegmentList* list,
                                segment::Workspace* work) const
{
    const uint32_t size = ValueSize(var);
    const bool bits = !HoldsReals(var.idcode);
    std::vector<uint8_t> values, stored;
    for (size_t first = 0; first < var.tags.size();) {
        size_t n = 0, bytes = 0;
        values.clear();
        while (first + n < var.tags.size() && (n == 0 || bytes < segment::kSegmentBytes)) {
            const auto& value = var.values[first + n];
            values.insert(values.end(), value.begin(), value.end());
            bytes += 8 + value.size();
            ++n;
        }
        const segment::Entry entry = segment::Encode(
            &var.tags[first], values.data(), static_cast<uint32_t>(n), size, bits, &stored, work);
        list->Add(b.size(), entry);
        b.insert(b.end(), stored.begin(), stored.end());
        first += n;
    }
}

bool FileWriter::Layout2Bytes(std::vector<uint8_t>* out, std::string* error) const
{
    std::vector<uint8_t>& b = *out;
    b.assign(L::HeaderSize(layout_ == 3 ? L::kVersion3 : L::kVersion2), 0);
    std::map<int, SegmentList> segments;
    segment::Workspace work;
    uint64_t lastTag = 0;
    for (int id : order_) {
        const Var& var = vars_.at(id);
        AppendSegments(var, b, &segments[id], &work);
        if (!var.tags.empty() && var.tags.back() > lastTag)
            lastTag = var.tags.back();
    }
    std::vector<uint8_t> tail, header;
    uint64_t indexBytes = 0;
    if (!Layout2Tail(b.size(), segments, lastTag, &tail, &indexBytes, &header, error))
        return false;
    for (int id : order_)
        if (!Inline(segments[id]))
            b.insert(b.end(), segments[id].index.begin(), segments[id].index.end());
    b.insert(b.end(), tail.begin(), tail.end());
    b.resize(static_cast<size_t>(FileSizeOf(header)), 0);
    std::memcpy(b.data(), header.data(), header.size());
    return true;
}

void FileWriter::SegmentList::Add(uint64_t offset, const segment::Entry& entry)
{
    index.resize(index.size() + L::kSegEntrySize);
    segment::StoreEntry(index.data() + index.size() - L::kSegEntrySize, offset, entry);
    count += entry.count;
    ++entries;
}

bool FileWriter::Inline(const SegmentList& list) const
{
    return layout_ == 3 && list.entries == 1 && list.index.size() == L::kSegEntrySize;
}

uint64_t FileWriter::FileSizeOf(const std::vector<uint8_t>& header)
{
    const bool three = header.size() == L::kHeaderSize3;
    return L::Load64(header.data() + (three ? L::kOff3FileSize : L::kOffFileSize));
}

// Layout 3: the variable-table entry at e describes its signal's one segment, whose index entry
// is at entry.
void PutOneSegment(std::vector<uint8_t>& b, size_t e, const uint8_t* entry)
{
    uint64_t offset = 0;
    const segment::Entry one = segment::LoadEntry(entry, &offset);
    Put64(b, e + L::kVarOffBlockOffset, offset);
    Put32(b, e + L::kVarOffSegStored, one.stored);
    Put32(b, e + L::kVarOffSegPacked, one.packed);
    b[e + L::kVarOffSegCodec] = one.codec;
    b[e + L::kVarOffForm] = L::kFormOneSegment;
}

bool FileWriter::Layout2Tail(uint64_t at, const std::map<int, SegmentList>& segments,
                             uint64_t lastTag, std::vector<uint8_t>* out, uint64_t* indexBytes,
                             std::vector<uint8_t>* header, std::string* error) const
{
    if (!Check(error))
        return false;
    const bool three = layout_ == 3;
    // Layout 2's header; layout 3 keeps its fields from the end tag to the unit at the start
    // of the metadata block, which follows the indexes with the stamp, hierarchy and table.
    std::vector<uint8_t>& h = *header;
    h.assign(L::kHeaderSize, 0);
    PutHeader(h, three ? L::kVersion3 : L::kVersion2);
    Put64(h, L::kOffEndTag, endTagSet_ ? endTag_ : lastTag);
    std::vector<uint8_t> meta(three ? L::kMetaRecordSize : 0, 0);
    AppendStampAndTree(meta, 0, h);
    const size_t tableStart = meta.size();
    meta.resize(tableStart + order_.size() * L::kVarEntrySize, 0);
    std::vector<uint8_t>& b = *out;
    b.clear();
    static const SegmentList none;
    uint64_t index = at;
    for (size_t i = 0; i < order_.size(); ++i) {
        const Var& var = vars_.at(order_[i]);
        auto it = segments.find(var.idcode);
        const SegmentList& list = it == segments.end() ? none : it->second;
        const size_t e = tableStart + i * L::kVarEntrySize;
        PutVarEntry(meta, e, var, list.count);
        if (Inline(list)) {
            PutOneSegment(meta, e, list.index.data());
            continue;
        }
        Put64(meta, e + L::kVarOffIndexOffset, index);
        Put64(meta, e + L::kVarOffIndexSize, list.entries * L::kSegEntrySize);
        index += list.entries * L::kSegEntrySize;
    }
    *indexBytes = index - at;
    if (meta.size() > UINT32_MAX) {
        if (error)
            *error = "metadata of " + std::to_string(meta.size()) + " bytes exceeds 4 GiB";
        return false;
    }
    if (three)
        std::memcpy(meta.data(), h.data() + L::kMetaRecordFrom, L::kMetaRecordSize);
    // Layout 3's record and stamp, read on every load, end the first block of the frame.
    const size_t head = L::kMetaRecordSize + (hasStamp_ ? stamp_.size() + 1 : 0);
    const uint8_t codec = three ? meta::PackWithHead(meta, head, &b) : meta::Pack(meta, &b);
    const uint64_t size = std::max(index + b.size(), MinFileSize());
    if (three) {
        h.resize(L::kHeaderSize3);
        Put64(h, L::kOff3FileSize, size);
        Put64(h, L::kOff3MetaOffset, index);
        Put32(h, L::kOff3MetaStored, static_cast<uint32_t>(b.size()));
        Put32(h, L::kOff3MetaDecoded, static_cast<uint32_t>(meta.size()));
        h[L::kOff3MetaCodec] = codec;
        return true;
    }
    h[L::kOffMetaCodec] = codec;
    Put64(h, L::kOffMetaOffset, index);
    Put32(h, L::kOffMetaStored, static_cast<uint32_t>(b.size()));
    Put32(h, L::kOffMetaDecoded, static_cast<uint32_t>(meta.size()));
    Put64(h, L::kOffFileSize, size);
    return true;
}

bool FileWriter::Write(const std::string& path, std::string* error) const
{
    std::vector<uint8_t> bytes;
    return Bytes(&bytes, error) && WriteBytes(path, bytes, error);
}

bool FileWriter::WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                            std::string* error)
{
    const std::string temp = path + ".writing";
    {
        errno = 0;
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            if (error)
                *error = CannotWrite(path);
            std::remove(temp.c_str());
            return false;
        }
    }
    return ReplaceWith(temp, path, error);
}

std::string FileWriter::CannotWrite(const std::string& path)
{
    return "cannot write \"" + path + "\": " + (errno ? std::strerror(errno) : "write failed");
}

namespace {

#ifdef _WIN32
// Windows refuses to rename over a file that a reader holds open, even one that shares
// deletion: the held file is renamed aside (a free name beside it) and deleted instead, so it
// goes when its last reader closes it and readers keep its bytes meanwhile. The old file is put
// back when the new one cannot take its place.
bool ReplaceHeldFile(const std::string& temp, const std::string& path)
{
    namespace fs = std::filesystem;
    for (int n = 1; n <= 1000; ++n) {
        const std::string aside = path + ".replaced-" + std::to_string(n);
        std::error_code ec;
        if (fs::exists(aside, ec) || ec)
            continue;  // taken, or a deleted file that a reader still holds
        fs::rename(path, aside, ec);
        if (ec)
            return false;
        fs::rename(temp, path, ec);
        if (ec) {
            fs::rename(aside, path, ec);
            return false;
        }
        fs::remove(aside, ec);
        return true;
    }
    return false;
}
#endif

// Renames temp over path.
void Replace(const std::string& temp, const std::string& path, std::error_code& ec)
{
    std::filesystem::rename(temp, path, ec);
#ifdef _WIN32
    if (ec == std::errc::permission_denied && ReplaceHeldFile(temp, path))
        ec.clear();
#endif
}

}  // namespace

bool FileWriter::ReplaceWith(const std::string& temp, const std::string& path, std::string* error)
{
    std::error_code ec;
    Replace(temp, path, ec);
    if (ec) {
        if (error)
            *error = "cannot replace \"" + path + "\": " + ec.message();
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace nffr
