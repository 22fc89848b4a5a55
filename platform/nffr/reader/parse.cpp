// parse.cpp: checks and decodes a file of our layout. Every length, offset and count is
// checked against the file's size before anything is read or allocated for it.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "internal.h"
#include "meta_codec.h"
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

// Reads length bytes at offset, which the caller checked against the file's size.
bool ReadSection(const FileHandle& file, uint64_t offset, uint64_t length,
                 std::vector<uint8_t>* out)
{
    if (length > SIZE_MAX)
        return false;
    out->resize(static_cast<size_t>(length));
    return file.ReadAt(offset, out->data(), out->size());
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
    // A name: u32 length, the bytes (no NUL among them), then a NUL; appended to names.
    bool Name(std::vector<char>* names, uint64_t* at)
    {
        uint32_t length;
        if (!Word(&length) || size_ - pos_ < uint64_t(length) + 1)
            return false;
        const char* text = reinterpret_cast<const char*>(p_ + pos_);
        if (text[length] != '\0' || std::memchr(text, 0, length))
            return false;
        *at = names->size();
        names->insert(names->end(), text, text + length + 1);
        pos_ += uint64_t(length) + 1;
        return true;
    }

private:
    const uint8_t* p_;
    uint64_t size_;
    uint64_t pos_ = 0;
};

// What one signal's record claims that the bytes the file holds cannot back; empty when
// nothing. Such a record is refused alone, at its load: it says nothing about the others.
std::string SignalDamage(const Signal& s, uint64_t blockSize, uint64_t fileSize, uint32_t version)
{
    if (s.bitSize > uint32_t(INT32_MAX) || (s.holdsBits && s.bitSize > fileSize))
        return "bit size " + std::to_string(s.bitSize) + " does not fit in the file";
    if (s.holdsBits && s.valueSize != s.bitSize)
        return "value size differs from the bit size";
    const bool realFits = s.valueSize == 8 || (s.valueSize == 4 && s.valueDataType != 3);
    if (!s.holdsBits && !realFits)
        return "value size " + std::to_string(s.valueSize) +
               " does not hold a real of value data type " + std::to_string(s.valueDataType);
    const uint64_t perChange = 8 + uint64_t(s.valueSize);
    // Compressed changes may take up to kMaxExpansion times the bytes that store them.
    const uint64_t room = version != L::kVersion ? fileSize * L::kMaxExpansion : fileSize;
    if (version == L::kVersion3 && s.form == L::kFormOneSegment) {
        if (s.changeCount == 0 || !Within(s.blockOffset, s.segStored, fileSize))
            return "its one segment lies outside the file or holds no changes";
    } else if (version == L::kVersion3 && s.form != L::kFormIndex) {
        return "unknown index form " + std::to_string(s.form);
    }
    if (version != L::kVersion) {
        if (s.form == L::kFormIndex &&
            (blockSize % L::kSegEntrySize != 0 || !Within(s.blockOffset, blockSize, fileSize)))
            return "segment index lies outside the file";
        if (uint64_t(s.changeCount) * perChange > room)
            return "change count " + std::to_string(s.changeCount) + " does not fit in the file";
    } else if (blockSize != uint64_t(s.changeCount) * perChange ||
               !Within(s.blockOffset, blockSize, fileSize)) {
        return "change block lies outside the file";
    }
    if (uint64_t(s.recordedCount) * perChange > room)
        return "recorded change count " + std::to_string(s.recordedCount) +
               " does not fit in the file";
    return std::string();
}

// Layout 3: how the entry at e finds its segments.
void ReadForm(const uint8_t* e, Signal* s)
{
    s->form = e[L::kVarOffForm];
    if (s->form != L::kFormOneSegment)
        return;
    s->indexSize = 0;
    s->segStored = Get32(e + L::kVarOffSegStored);
    s->segPacked = Get32(e + L::kVarOffSegPacked);
    s->segCodec = e[L::kVarOffSegCodec];
}

// True when every idcode is positive and used once: in one pass when they rise, as writers
// number them, otherwise by sorting a copy (no allocation per signal, no hashing).
bool IdcodesSound(const std::vector<Signal>& signals)
{
    bool rising = true;
    for (size_t i = 1; i < signals.size() && rising; ++i)
        rising = signals[i - 1].idcode < signals[i].idcode;
    if (rising)
        return signals.empty() || signals.front().idcode > 0;
    std::vector<int32_t> ids;
    ids.reserve(signals.size());
    for (const Signal& s : signals)
        ids.push_back(s.idcode);
    std::sort(ids.begin(), ids.end());
    return ids.front() > 0 && std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

// The first signal whose idcode is not positive or was used by an earlier one; the count when
// none is.
size_t FirstBadIdcode(const std::vector<Signal>& signals)
{
    if (IdcodesSound(signals))
        return signals.size();
    std::unordered_set<int32_t> seen;
    for (size_t i = 0; i < signals.size(); ++i)
        if (signals[i].idcode <= 0 || !seen.insert(signals[i].idcode).second)
            return i;
    return signals.size();
}

bool ParseSignals(const uint8_t* table, uint64_t fileSize, Model* model, std::string* error)
{
    const Header& h = model->header;
    model->signals.resize(h.varCount);
    for (uint32_t i = 0; i < h.varCount; ++i) {
        const uint8_t* e = table + uint64_t(i) * L::kVarEntrySize;
        Signal& s = model->signals[i];
        s.idcode = static_cast<int32_t>(Get32(e + L::kVarOffIdcode));
        s.varType = e[L::kVarOffVarType];
        s.valueDataType = e[L::kVarOffValueDataType];
        s.holdsBits = !(h.fileType == 1 && s.varType != 0);
        s.bitSize = Get32(e + L::kVarOffBitSize);
        s.valueSize = Get32(e + L::kVarOffValueSize);
        s.changeCount = Get32(e + L::kVarOffChangeCount);
        s.recordedCount = Get32(e + L::kVarOffRecordedCount);
        s.blockOffset = Get64(e + L::kVarOffBlockOffset);
        s.indexSize = Get64(e + L::kVarOffIndexSize);
        if (h.version == L::kVersion3)
            ReadForm(e, &s);
        std::string damage = SignalDamage(s, s.indexSize, fileSize, h.version);
        if (!damage.empty()) {
            s.damaged = true;
            model->damage.emplace(i, std::move(damage));
        }
    }
    // Without a sound idcode a signal cannot be told from the others: the file is refused.
    const size_t bad = FirstBadIdcode(model->signals);
    if (bad < model->signals.size())
        return Refuse(error, "variable " + std::to_string(bad) + " (idcode " +
                                 std::to_string(model->signals[bad].idcode) +
                                 "): idcode not positive or used twice");
    return true;
}

bool ParseTree(const uint8_t* hierarchy, uint64_t size, Model* model, std::string* error,
               std::vector<std::string>* warnings)
{
    const Header& h = model->header;
    HierarchyReader in(hierarchy, size);
    std::vector<uint32_t> open;  // entries of the scopes that enclose the current position
    uint32_t scopes = 0, vars = 0;
    auto bad = [&](const char* what) {
        return Refuse(error, std::string("hierarchy: ") + what + " at byte " +
                                 std::to_string(h.hierOffset + in.Pos()));
    };
    model->names.reserve(size);
    while (!in.AtEnd()) {
        TreeEntry entry;
        entry.parent = open.empty() ? kNoParent : open.back();
        const uint32_t index = static_cast<uint32_t>(model->tree.size());
        if (!in.Byte(&entry.kind))
            return bad("truncated record");
        if (entry.kind == L::kRecScopeBegin) {
            if (++scopes > h.scopeCount || !in.Name(&model->names, &entry.name))
                return bad("bad scope record");
            entry.depth = static_cast<uint32_t>(open.size());
            open.push_back(index);
        } else if (entry.kind == L::kRecVar) {
            if (++vars > h.treeVarCount || !in.Word(&entry.signal) ||
                !in.Name(&model->names, &entry.name) || entry.signal >= model->signals.size())
                return bad("bad variable record");
            Signal& s = model->signals[entry.signal];
            if (s.firstEntry == UINT32_MAX)
                s.firstEntry = index;
        } else if (entry.kind == L::kRecScopeEnd) {
            if (open.empty())
                return bad("scope end without a scope");
            open.pop_back();
        } else {
            return bad("unknown record");
        }
        model->tree.push_back(entry);
    }
    if (scopes != h.scopeCount || vars != h.treeVarCount)
        return Refuse(error, "hierarchy: record counts differ from the header");
    if (!open.empty()) {
        warnings->push_back("hierarchy: " + std::to_string(open.size()) +
                            " scopes left open at the end; closed");
        for (size_t i = open.size(); i > 0; --i) {
            TreeEntry end;
            end.kind = L::kRecScopeEnd;
            end.parent = open[i - 1];
            model->tree.push_back(end);
        }
    }
    for (const Signal& s : model->signals)
        if (s.firstEntry == UINT32_MAX)
            warnings->push_back("idcode " + std::to_string(s.idcode) +
                                " has no entry in the hierarchy");
    return true;
}

}  // namespace

namespace {

// The header's fields from the end tag to the unit, at their offsets in b (the header of layout
// 1 or 2, or layout 3's metadata record put back at those offsets), checked against space: the
// bytes the stamp, hierarchy and table offsets refer to.
bool ParseFields(const uint8_t* b, uint64_t space, Header* h, std::string* error)
{
    h->endTag = Get64(b + L::kOffEndTag);
    h->hierOffset = Get64(b + L::kOffHierOffset);
    h->hierSize = Get64(b + L::kOffHierSize);
    h->varTableOffset = Get64(b + L::kOffVarTableOffset);
    h->varCount = Get32(b + L::kOffVarCount);
    h->scopeCount = Get32(b + L::kOffScopeCount);
    h->treeVarCount = Get32(b + L::kOffTreeVarCount);
    h->stampLength = Get32(b + L::kOffStampLength);
    h->stampOffset = Get64(b + L::kOffStampOffset);
    const char* unit = reinterpret_cast<const char*>(b + L::kOffUnit);
    if (!std::memchr(unit, 0, L::kUnitSize))
        return Refuse(error, "time unit text not terminated");
    std::memcpy(h->unit, unit, L::kUnitSize);
    if (h->HasStamp() && (h->stampLength > L::kMaxStampLength ||
                          !Within(h->stampOffset, uint64_t(h->stampLength) + 1, space)))
        return Refuse(error, "creation stamp lies outside the file or is too long");
    if (!Within(h->hierOffset, h->hierSize, space))
        return Refuse(error, "hierarchy lies outside the file");
    // Every scope record takes at least 6 bytes and every variable record 10.
    if (uint64_t(h->scopeCount) * 6 + uint64_t(h->treeVarCount) * 10 > h->hierSize)
        return Refuse(error, "hierarchy counts exceed the hierarchy's size");
    if (!Within(h->varTableOffset, uint64_t(h->varCount) * L::kVarEntrySize, space))
        return Refuse(error, "variable table of " + std::to_string(h->varCount) +
                                 " entries lies outside the file");
    return true;
}

// Layout 3: the fields of the record that opens the decoded metadata (at least
// kMetaRecordSize bytes).
bool ParseMetaRecord(const uint8_t* record, Header* h, std::string* error)
{
    uint8_t b[L::kHeaderSize] = {0};
    std::memcpy(b + L::kMetaRecordFrom, record, L::kMetaRecordSize);
    return ParseFields(b, h->metaDecoded, h, error);
}

// A decoder of the metadata block's first bytes from disk, reading only what they need.
std::unique_ptr<meta::Prefix> MetaPrefix(const FileHandle& file, const Header& h)
{
    const uint64_t offset = h.metaOffset;
    return std::make_unique<meta::Prefix>(
        [&file, offset](uint64_t at, uint8_t* buf, size_t n) {
            return file.ReadAt(offset + at, buf, n);
        },
        h.metaStored, h.metaCodec);
}

// Layout 3's header fields and stamp lie in the compressed metadata, and the host asks for them
// on every load: what the last query decoded, kept while the file's size, times and identity
// are unchanged (as a check's model is kept for the open that follows it).
struct DecodedHead {
    bool valid = false;
    DiskState disk;
    Header header;
    int hasStamp = -2;  // ReadStampFromDisk's answer, once it was asked
    std::string stamp;
};

DecodedHead& LastHead()
{
    static auto* last = new DecodedHead();
    return *last;
}

// Reads the header of an open file, and in layout 3 the record of its metadata that holds the
// rest of the header's fields (the decoder of which *prefix then receives, when given and
// decoded).
bool ReadHeader(const FileHandle& file, Header* h, std::string* error,
                std::unique_ptr<meta::Prefix>* prefix = nullptr)
{
    uint8_t head[L::kHeaderSize];
    const uint64_t size = file.state().size;
    const size_t n = size < L::kHeaderSize ? static_cast<size_t>(size) : L::kHeaderSize;
    if (!file.ReadAt(0, head, n))
        return Refuse(error, "cannot read the header");
    if (!ParseHeader(head, n, size, h, error))
        return false;
    if (h->version != L::kVersion3)
        return true;
    DecodedHead& last = LastHead();
    if (last.valid && last.disk == file.state()) {
        *h = last.header;
        return true;
    }
    last.valid = false;
    std::unique_ptr<meta::Prefix> decoder = MetaPrefix(file, *h);
    if (!decoder->Extend(L::kMetaRecordSize).empty())
        return Refuse(error, "metadata: its header record is damaged or missing");
    if (!ParseMetaRecord(decoder->Bytes().data(), h, error))
        return false;
    last = {true, file.state(), *h, -2, std::string()};
    if (prefix)
        *prefix = std::move(decoder);
    return true;
}

}  // namespace

bool ParseHeader(const uint8_t* b, size_t available, uint64_t actualSize, Header* h,
                 std::string* error)
{
    if (available < L::kHeaderSize3 || std::memcmp(b, L::kMagic, sizeof L::kMagic) != 0)
        return Refuse(error, "not an FSDB file of ours (no magic number)");
    h->version = Get32(b + L::kOffVersion);
    if (h->version != L::kVersion && h->version != L::kVersion2 && h->version != L::kVersion3)
        return Refuse(error, "unsupported layout version " + std::to_string(h->version));
    const uint32_t headerSize = L::HeaderSize(h->version);
    if (available < headerSize)
        return Refuse(error, "not an FSDB file of ours (no magic number)");
    if (Get32(b + L::kOffHeaderSize) != headerSize)
        return Refuse(error, "bad header size");
    h->fileType = static_cast<int32_t>(Get32(b + L::kOffFileType));
    h->flags = Get32(b + L::kOffFlags);
    const bool three = h->version == L::kVersion3;
    h->fileSize = Get64(b + (three ? L::kOff3FileSize : L::kOffFileSize));
    // In layouts 2 and 3 the stamp, hierarchy and table lie in the decoded metadata block.
    uint64_t space = actualSize;
    if (h->version != L::kVersion) {
        h->metaOffset = Get64(b + (three ? L::kOff3MetaOffset : L::kOffMetaOffset));
        h->metaStored = Get32(b + (three ? L::kOff3MetaStored : L::kOffMetaStored));
        h->metaDecoded = Get32(b + (three ? L::kOff3MetaDecoded : L::kOffMetaDecoded));
        h->metaCodec = b[three ? L::kOff3MetaCodec : L::kOffMetaCodec];
        space = h->metaDecoded;
    }
    if (h->fileSize != actualSize)
        return Refuse(error, "file is " + std::to_string(actualSize) + " bytes, its header says " +
                                 std::to_string(h->fileSize) + " (truncated or extended)");
    if (h->flags & ~L::kFlagStamp)
        return Refuse(error, "unknown header flags");
    if (h->version != L::kVersion) {
        const std::string wrong = meta::Check(h->metaStored, h->metaDecoded, h->metaCodec);
        if (!wrong.empty())
            return Refuse(error, wrong);
        if (!Within(h->metaOffset, h->metaStored, actualSize) || h->metaOffset < headerSize)
            return Refuse(error, "metadata lies outside the file");
        if (three && h->metaDecoded < L::kMetaRecordSize)
            return Refuse(error, "metadata: too short to hold the header's fields");
    }
    // Layout 3's other fields lie in its metadata, read by the caller.
    return three || ParseFields(b, space, h, error);
}

// Reads the bytes the stamp, hierarchy and table offsets refer to: the decoded metadata block
// in layouts 2 and 3; nothing in layout 1, whose offsets are the file's.
bool ReadMetadata(const FileHandle& file, const Header& h, std::vector<uint8_t>* meta,
                  std::string* error)
{
    if (h.version == L::kVersion)
        return true;
    std::vector<uint8_t> stored;
    if (!ReadSection(file, h.metaOffset, h.metaStored, &stored))
        return Refuse(error, "cannot read the metadata");
    const std::string wrong =
        meta::Unpack(stored.data(), stored.size(), h.metaCodec, h.metaDecoded, meta);
    return wrong.empty() || Refuse(error, wrong);
}

bool ParseModel(const FileHandle& file, Model* model, std::string* error,
                std::vector<std::string>* warnings)
{
    Header& h = model->header;
    const uint64_t size = file.state().size;
    std::vector<uint8_t> bytes, meta;
    const uint64_t headSize = size < L::kHeaderSize ? size : L::kHeaderSize;
    if (!ReadSection(file, 0, headSize, &bytes))
        return Refuse(error, "cannot read the header");
    if (!ParseHeader(bytes.data(), bytes.size(), size, &h, error) ||
        !ReadMetadata(file, h, &meta, error) ||
        (h.version == L::kVersion3 && !ParseMetaRecord(meta.data(), &h, error)))
        return false;
    // A section of the decoded metadata (layout 2) or of the file (layout 1), checked by
    // ParseHeader against the space it lies in.
    auto section = [&](uint64_t offset, uint64_t length, const char* what) -> const uint8_t* {
        static const uint8_t kNothing = 0;  // an empty block's data() may be null
        if (h.version != L::kVersion)
            return meta.empty() ? &kNothing : meta.data() + offset;
        if (!ReadSection(file, offset, length, &bytes)) {
            Refuse(error, std::string("cannot read the ") + what);
            return nullptr;
        }
        return bytes.data();
    };
    if (h.HasStamp()) {
        const char* stamp = reinterpret_cast<const char*>(
            section(h.stampOffset, uint64_t(h.stampLength) + 1, "creation stamp"));
        if (!stamp)
            return false;
        if (stamp[h.stampLength] != '\0' || std::memchr(stamp, 0, h.stampLength))
            return Refuse(error, "creation stamp not terminated where its length says");
        model->stamp.assign(stamp, h.stampLength);
    }
    const uint8_t* table =
        section(h.varTableOffset, uint64_t(h.varCount) * L::kVarEntrySize, "variable table");
    if (!table || !ParseSignals(table, size, model, error))
        return false;
    const uint8_t* hierarchy = section(h.hierOffset, h.hierSize, "hierarchy");
    if (!hierarchy)
        return false;
    model->tree.reserve(uint64_t(h.scopeCount) * 2 + h.treeVarCount);
    return ParseTree(hierarchy, h.hierSize, model, error, warnings);
}

std::string FullName(const Model& model, const Signal& signal)
{
    if (signal.firstEntry == UINT32_MAX)
        return std::string();
    std::vector<const char*> parts;
    for (uint32_t at = signal.firstEntry; at != kNoParent; at = model.tree[at].parent)
        parts.push_back(model.names.data() + model.tree[at].name);
    std::string full;
    for (size_t i = parts.size(); i > 0; --i) {
        full += parts[i - 1];
        if (i > 1)
            full += '.';
    }
    return full;
}

std::string SignalLabel(const Model& model, const Signal& signal)
{
    const std::string idcode = "idcode " + std::to_string(signal.idcode);
    const std::string name = FullName(model, signal);
    return name.empty() ? idcode : name + " (" + idcode + ")";
}

bool CheckChangeBlock(const uint8_t* tags, const Signal& s, std::string* error)
{
    for (uint32_t i = 1; i < s.changeCount; ++i)
        if (Get64(tags + 8 * uint64_t(i)) < Get64(tags + 8 * uint64_t(i - 1)))
            return Refuse(error, "idcode " + std::to_string(s.idcode) + ": change " +
                                     std::to_string(i) + " has a tag before the previous one");
    return true;
}

bool ReadHeaderFromDisk(const char* path, Header* header, std::string* error)
{
    std::unique_ptr<FileHandle> file = FileHandle::Open(path, error);
    return file && ReadHeader(*file, header, error);
}

namespace {

// ReadStampFromDisk for a file whose header was read: from its stamp's bytes.
int ReadStamp(const FileHandle& file, const Header& h, std::unique_ptr<meta::Prefix> prefix,
              std::string* stamp)
{
    if (!h.HasStamp())
        return 0;
    const char* text;
    char plain[L::kMaxStampLength + 1];
    if (h.version != L::kVersion) {
        // The stamp follows layout 3's record in the block's first zstd block: decoded on.
        if (!prefix)
            prefix = MetaPrefix(file, h);
        if (!prefix->Extend(static_cast<size_t>(h.stampOffset) + h.stampLength + 1).empty())
            return -1;
        text = reinterpret_cast<const char*>(prefix->Bytes().data() + h.stampOffset);
    } else if (file.ReadAt(h.stampOffset, plain, h.stampLength + 1u)) {
        text = plain;
    } else {
        return -1;
    }
    if (text[h.stampLength] != 0 || std::memchr(text, 0, h.stampLength))
        return -1;
    stamp->assign(text, h.stampLength);
    return 1;
}

}  // namespace

int ReadStampFromDisk(const char* path, std::string* stamp)
{
    std::unique_ptr<FileHandle> file = FileHandle::Open(path, nullptr);
    Header h;
    std::unique_ptr<meta::Prefix> prefix;
    if (!file || !ReadHeader(*file, &h, nullptr, &prefix))
        return -1;
    DecodedHead& last = LastHead();
    const bool kept = h.version == L::kVersion3 && last.valid && last.disk == file->state();
    if (kept && last.hasStamp != -2) {
        *stamp = last.stamp;
        return last.hasStamp;
    }
    const int has = ReadStamp(*file, h, std::move(prefix), stamp);
    if (kept) {
        last.hasStamp = has;
        last.stamp = has == 1 ? *stamp : std::string();
    }
    return has;
}

}  // namespace nffr
