// reader_hostile_test.cpp: hostile files and files changed on disk while open. Each is refused
// with one message line through the error sink (or read correctly); none ends the process,
// reads past a file's end or allocates beyond what the file holds.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <tuple>

#include "nffr_layout.h"
#include "nffr_test_util.h"

using namespace nffrtest;
namespace L = nffr::layout;

namespace {

uint64_t Entry(const std::vector<uint8_t>& b, uint32_t signal)
{
    // In layouts 2 and 3 the table lies in the metadata block, which PlainMetadata stores as it
    // is; in layout 3 its offset is in the record that opens the block.
    const uint32_t version = L::Load32(&b[L::kOffVersion]);
    const uint64_t base = version == 3   ? L::Load64(&b[L::kOff3MetaOffset])
                          : version == 2 ? L::Load64(&b[L::kOffMetaOffset])
                                         : 0;
    const uint64_t field =
        version == 3 ? base + L::kOffVarTableOffset - L::kMetaRecordFrom : L::kOffVarTableOffset;
    return base + L::Load64(&b[field]) + uint64_t(signal) * L::kVarEntrySize;
}

// Two one-bit logic signals (idcodes 1 and 2) of a type-0 file with a few changes each.
nffr::FileWriter TwoSignals()
{
    nffr::FileWriter w;
    w.SetFileType(0);
    w.BeginScope("top");
    int a = w.AddVar("a", 0, 1);
    int b = w.AddVar("b", 0, 1);
    for (uint64_t t = 0; t < 4; ++t) {
        w.AddBits(a, t * 10, t % 2 ? "1" : "0");
        w.AddBits(b, t * 10 + 5, t % 2 ? "0" : "1");
    }
    w.EndScope();
    return w;
}

class Hostile : public ReaderTest {
protected:
    ffrObject* Open(const std::string& path)
    {
        return ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    }
    std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
};

// A damaged file of the corpus: its name says what it catches; the message is what the user
// reads when the file is refused at open.
struct OpenCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
};

TEST_F(Hostile, CorpusRefusedAtOpenWithOneMessage)
{
    const std::vector<OpenCase> corpus = {
        {"variable-count-beyond-the-file",
         [](auto& b) { L::Store32(&b[L::kOffVarCount], 0x10000000u); },
         "variable table of 268435456 entries lies outside the file"},
        {"scope-count-beyond-the-hierarchy",
         [](auto& b) { L::Store32(&b[L::kOffScopeCount], 0x40000000u); },
         "hierarchy counts exceed the hierarchy's size"},
    };
    const std::vector<uint8_t> good = Image(WithLayout(TwoSignals(), 2));
    for (const OpenCase& c : corpus) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        std::string path = dir_.File(std::string(c.name) + ".fsdb");
        ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        Sinks::Errors().clear();
        EXPECT_EQ(nullptr, Open(path)) << c.name;
        ASSERT_EQ(1u, Sinks::Errors().size()) << c.name;
        if (c.message) {
            EXPECT_EQ(Quoted(path) + ": " + c.message + "\n", Sinks::Errors()[0]) << c.name;
        }
    }
    EXPECT_TRUE(Violations::Seen().empty());
}

// A damaged variable record of the corpus (the damaged signal's table index, the field, its
// new value); the message names the signal when its load is refused.
struct RecordCase {
    const char* name;
    uint32_t signal;
    uint32_t field;
    uint64_t value;
    const char* message;
    int layout = 1;
};

// Reals v (doubles, 3 changes) and i (floats), 4 bits d, and e (doubles) and q (1 bit) without
// changes, in a file of type 1.
nffr::FileWriter FiveSignals()
{
    nffr::FileWriter w = SmallFile();
    w.BeginScope("top");
    w.AddVar("e", 'v', 64);
    w.AddVar("q", 0, 1);
    w.EndScope();
    return w;
}

// Every change of a loaded signal: its tags and values of size bytes, in order.
std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Changes(ffrObject* r, int idcode,
                                                               size_t size)
{
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> changes;
    ffrVCTraverser* t = r->CreateTraverser(idcode);
    if (!t)
        return changes;
    TimeTag tag;
    unsigned char* value = nullptr;
    for (bool more = t->HasChanges(); more; more = t->GotoNext() == 0)
        if (t->GetTag(&tag) == 0 && t->GetValue(&value) == 0)
            changes.push_back({Tag64(tag), std::vector<uint8_t>(value, value + size)});
    t->FreeTraverser();
    return changes;
}

// A damaged variable record costs only its own signal: the file opens without a message, the
// signal's load is refused with one message naming it, and every other signal loads exactly.
TEST_F(Hostile, DamagedRecordRefusesOnlyItsSignal)
{
    const uint32_t kCount = L::kVarOffChangeCount, kRecorded = L::kVarOffRecordedCount;
    const uint32_t kBits = L::kVarOffBitSize, kValue = L::kVarOffValueSize;
    const std::vector<RecordCase> corpus = {
        {"recorded-count-past-the-stored-3", 0, kRecorded, 0x10000000u,
         "top.v (idcode 1): recorded change count 268435456 does not fit in the file"},
        {"recorded-count-near-2g", 0, kRecorded, 0x7ffffff0u,
         "top.v (idcode 1): recorded change count 2147483632 does not fit in the file"},
        {"real-bit-size-2g", 0, kBits, 0x80000000u,
         "top.v (idcode 1): bit size 2147483648 does not fit in the file"},
        {"bits-bit-size-4g", 2, kBits, 0xffffffffu,
         "top.d (idcode 3): bit size 4294967295 does not fit in the file"},
        {"bits-bit-size-larger-than-the-file", 2, kBits, 100000,
         "top.d (idcode 3): bit size 100000 does not fit in the file"},
        {"bits-value-size-differs-from-bit-size", 2, kValue, 2,
         "top.d (idcode 3): value size differs from the bit size"},
        {"double-value-size-0", 0, kValue, 0,
         "top.v (idcode 1): value size 0 does not hold a real of value data type 3"},
        {"double-value-size-1", 0, kValue, 1,
         "top.v (idcode 1): value size 1 does not hold a real of value data type 3"},
        {"float-value-size-3", 1, kValue, 3,
         "top.i (idcode 2): value size 3 does not hold a real of value data type 2"},
        {"double-value-size-16", 0, kValue, 16,
         "top.v (idcode 1): value size 16 does not hold a real of value data type 3"},
        {"real-without-changes-value-size-4g", 3, kValue, 0xffffffffu,
         "top.e (idcode 4): value size 4294967295 does not hold a real of value data type 3"},
        {"bits-without-changes-value-size-4g", 4, kValue, 0xffffffffu,
         "top.q (idcode 5): value size differs from the bit size"},
        {"change-count-beyond-the-block", 0, kCount, 0xffffffffu,
         "top.v (idcode 1): change block lies outside the file"},
        {"change-block-beyond-the-end", 1, L::kVarOffBlockOffset, ~0ull - 7,
         "top.i (idcode 2): change block lies outside the file"},
        {"segment-index-beyond-the-end", 1, L::kVarOffIndexOffset, ~0ull - 7,
         "top.i (idcode 2): segment index lies outside the file", 2},
        {"segment-index-of-part-of-an-entry", 0, L::kVarOffIndexSize, 23,
         "top.v (idcode 1): segment index lies outside the file", 2},
        {"change-count-beyond-what-compression-gives", 0, kCount, 0xffffffffu,
         "top.v (idcode 1): change count 4294967295 does not fit in the file", 2},
        {"recorded-count-beyond-what-compression-gives", 0, kRecorded, 0x7ffffff0u,
         "top.v (idcode 1): recorded change count 2147483632 does not fit in the file", 2},
        {"one-segment-beyond-the-end", 0, L::kVarOffBlockOffset, ~0ull - 7,
         "top.v (idcode 1): its one segment lies outside the file or holds no changes", 3},
        {"one-segment-longer-than-the-file", 0, L::kVarOffSegStored, 0xffffffffu,
         "top.v (idcode 1): its one segment lies outside the file or holds no changes", 3},
        {"one-segment-without-changes", 0, kCount, 0,
         "top.v (idcode 1): its one segment lies outside the file or holds no changes", 3},
        {"unknown-index-form", 0, L::kVarOffForm, 7, "top.v (idcode 1): unknown index form 7", 3},
        {"change-count-beyond-what-one-segment-gives", 0, kCount, 0xffffffffu,
         "top.v (idcode 1): change count 4294967295 does not fit in the file", 3},
    };
    const size_t kValueSizes[] = {8, 4, 4, 8, 1};
    const std::vector<uint8_t> goods[] = {Image(Layout1(FiveSignals())),
                                          PlainMetadata(Image(WithLayout(FiveSignals(), 2))),
                                          PlainMetadata(Image(WithLayout(FiveSignals(), 3)))};
    ffrObject* sound = Open(Write(FiveSignals(), dir_.File("sound.fsdb")));
    ASSERT_NE(nullptr, sound);
    for (int id = 1; id <= 5; ++id)
        sound->AddToLoadList(id, 0, 0);
    ASSERT_EQ(0, sound->LoadListedSignals());
    for (const RecordCase& c : corpus) {
        std::vector<uint8_t> bytes = goods[c.layout - 1];
        const uint64_t at = Entry(bytes, c.signal) + c.field;
        if (c.field == L::kVarOffBlockOffset)
            L::Store64(&bytes[at], c.value);
        else
            L::Store32(&bytes[at], static_cast<uint32_t>(c.value));
        const std::string path = dir_.File(std::string(c.name) + ".fsdb");
        ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        Sinks::Errors().clear();
        EXPECT_TRUE(IsFsdbFile(path.c_str())) << c.name;
        ffrObject* r = Open(path);
        ASSERT_NE(nullptr, r) << c.name;
        EXPECT_TRUE(Sinks::Errors().empty()) << c.name;
        const int damaged = static_cast<int>(c.signal) + 1;
        const std::string message = Quoted(path) + ": " + c.message + "\n";
        EXPECT_EQ(-1, r->GetChangeCount(damaged)) << c.name;  // before its load too
        ASSERT_EQ(1u, Sinks::Errors().size()) << c.name;
        EXPECT_EQ(message, Sinks::Errors()[0]);
        Sinks::Errors().clear();
        for (int id = 1; id <= 5; ++id)
            r->AddToLoadList(id, 0, 0);
        EXPECT_EQ(1, r->LoadListedSignals()) << c.name;
        ASSERT_EQ(1u, Sinks::Errors().size()) << c.name;
        EXPECT_EQ(message, Sinks::Errors()[0]);
        EXPECT_EQ(-1, r->GetChangeCount(damaged)) << c.name;
        EXPECT_EQ(nullptr, r->CreateTraverser(damaged)) << c.name;
        for (int id = 1; id <= 5; ++id) {
            if (id == damaged)
                continue;
            EXPECT_EQ(sound->GetChangeCount(id), r->GetChangeCount(id)) << c.name << id;
            const size_t size = kValueSizes[id - 1];
            EXPECT_EQ(Changes(sound, id, size), Changes(r, id, size)) << c.name << id;
        }
        r->Close();
    }
    sound->Close();
    EXPECT_TRUE(Violations::Seen().empty());
}

// A signal refused at load fails every later call on it with a message, never a violation.
TEST_F(Hostile, RefusedSignalFailsEveryLaterCallCleanly)
{
    // Signal 1's first segment entry in layout 2 (a clock of 400 changes, compressed), and in
    // layout 3 its variable-table entry, which describes its one segment.
    auto segment = [](std::vector<uint8_t>& b) -> uint8_t* {
        return &b[L::Load64(&b[Entry(b, 0) + L::kVarOffIndexOffset])];
    };
    auto one = [](std::vector<uint8_t>& b) -> uint8_t* { return &b[Entry(b, 0)]; };
    using Damage = std::function<void(std::vector<uint8_t>&)>;
    // Name, layout, damage and (for layout 2) what the refusal says after the signal's name.
    const std::vector<std::tuple<const char*, int, Damage, const char*>> corpus = {
        {"tags-go-backwards", 1,
         [](auto& b) {
             L::Store64(&b[L::Load64(&b[Entry(b, 0) + L::kVarOffBlockOffset]) + 8], 100);
         },
         nullptr},
        {"change-block-overlaps-the-header", 1,
         [](auto& b) { L::Store64(&b[Entry(b, 0) + L::kVarOffBlockOffset], 0); }, nullptr},
        {"segment-overlaps-the-header", 2,
         [&](auto& b) { L::Store64(segment(b) + L::kSegOffOffset, 0); },
         "segment 0: lies outside the file or overlaps other data"},
        {"segment-beyond-the-end", 2,
         [&](auto& b) { L::Store32(segment(b) + L::kSegOffStoredSize, 0xffffffffu); },
         "segment 0: lies outside the file or overlaps other data"},
        {"decompression-bomb", 2,
         [&](auto& b) {
             L::Store32(segment(b) + L::kSegOffStoredSize, 100);
             L::Store32(segment(b) + L::kSegOffPackedSize, 0x7fffffffu);
         },
         "segment 0: 100 stored bytes claim 2147483647 decoded (more than 1024 times as many)"},
        {"segment-count-differs", 2,
         [&](auto& b) { L::Store32(segment(b) + L::kSegOffCount, 401); },
         "its segments hold 401 changes, its entry 400"},
        {"no-changes-in-a-segment", 2,
         [&](auto& b) { L::Store32(segment(b) + L::kSegOffCount, 0); }, nullptr},
        {"unknown-codec", 2, [&](auto& b) { segment(b)[L::kSegOffCodec] = 9; },
         "segment 0: unknown codec 9"},
        {"compressed-bytes-damaged", 2,
         [&](auto& b) { L::Store32(&b[L::Load64(segment(b) + L::kSegOffOffset)], 0); },
         "segment 0: its compressed bytes are damaged"},
        {"packed-stream-shorter", 2,
         [&](auto& b) {
             uint8_t* e = segment(b);
             L::Store32(e + L::kSegOffPackedSize, L::Load32(e + L::kSegOffPackedSize) - 1);
         },
         "segment 0: its compressed bytes are damaged or do not give its packed size"},
        {"one-segment-overlaps-the-header", 3,
         [&](auto& b) { L::Store64(one(b) + L::kVarOffBlockOffset, 8); },
         "segment 0: lies outside the file or overlaps other data"},
        {"one-segment-bomb", 3,
         [&](auto& b) {
             L::Store32(one(b) + L::kVarOffSegStored, 100);
             L::Store32(one(b) + L::kVarOffSegPacked, 0x7fffffffu);
         },
         "segment 0: 100 stored bytes claim 2147483647 decoded (more than 1024 times as many)"},
        {"one-segment-unknown-codec", 3, [&](auto& b) { one(b)[L::kVarOffSegCodec] = 9; },
         "segment 0: unknown codec 9"},
        {"one-segment-damaged", 3,
         [&](auto& b) { L::Store32(&b[L::Load64(one(b) + L::kVarOffBlockOffset)], 0); },
         "segment 0: its compressed bytes are damaged"},
    };
    nffr::FileWriter clock = TwoSignals();
    for (uint64_t t = 40; t < 436; ++t)
        clock.AddBits(1, t * 10, t % 2 ? "1" : "0");
    const std::vector<uint8_t> goods[] = {Image(Layout1(TwoSignals())),
                                          PlainMetadata(Image(WithLayout(clock, 2))),
                                          PlainMetadata(Image(WithLayout(clock, 3)))};
    for (const auto& [name, layout, damage, reason] : corpus) {
        std::vector<uint8_t> bytes = goods[layout - 1];
        damage(bytes);
        std::string path = dir_.File(std::string(name) + ".fsdb");
        ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        Sinks::Errors().clear();
        ffrObject* r = Open(path);
        ASSERT_NE(nullptr, r) << name;
        r->AddToLoadList(1, 0, 0);
        r->AddToLoadList(2, 0, 0);
        EXPECT_EQ(1, r->LoadListedSignals()) << name;
        ASSERT_EQ(1u, Sinks::Errors().size()) << name;
        const std::string why = Sinks::Errors()[0].substr(Quoted(path).size() + 2);
        if (reason) {
            EXPECT_EQ(std::string("top.a (idcode 1): ") + reason + "\n", why) << name;
        }
        EXPECT_TRUE(r->IsInLoadList(1));
        EXPECT_EQ(nullptr, r->CreateTraverser(1));
        EXPECT_EQ(nullptr, r->CreateTraverser(1));
        EXPECT_EQ(-1, r->GetChangeCount(1));
        EXPECT_EQ(1, r->LoadListedSignals());  // the list still holds a refused signal
        ASSERT_EQ(4u, Sinks::Errors().size()) << name;
        EXPECT_EQ(Quoted(path) + ": idcode 1 cannot be traversed: " + why, Sinks::Errors()[1]);
        EXPECT_EQ(Sinks::Errors()[1], Sinks::Errors()[2]);
        EXPECT_EQ(Quoted(path) + ": idcode 1 was refused: " + why, Sinks::Errors()[3]);
        ffrVCTraverser* t = r->CreateTraverser(2);  // the other signal loads
        ASSERT_NE(nullptr, t) << name;
        t->FreeTraverser();
        r->Close();
    }
    EXPECT_TRUE(Violations::Seen().empty());
}

// A segment's tags never go back, being steps from its first; two segments of a signal
// given in the wrong order (their index entries swapped) go back at their join and are refused.
TEST_F(Hostile, SegmentsJoinedOutOfOrderAreRefused)
{
    nffr::FileWriter w;
    w.SetFileType(0);
    w.BeginScope("top");
    int a = w.AddVar("a", 0, 1);
    // Segments of 1 MiB, 9 bytes a change: 116509 changes and then 3491.
    for (uint64_t t = 0; t < 120000; ++t)
        w.AddBits(a, t, t % 2 ? "1" : "0");
    w.EndScope();
    std::vector<uint8_t> bytes = PlainMetadata(Image(w));
    uint8_t* first = &bytes[L::Load64(&bytes[Entry(bytes, 0) + L::kVarOffIndexOffset])];
    ASSERT_EQ(2 * L::kSegEntrySize, L::Load64(&bytes[Entry(bytes, 0) + L::kVarOffIndexSize]));
    std::swap_ranges(first, first + L::kSegEntrySize, first + L::kSegEntrySize);
    std::string path = dir_.File("swapped.fsdb");
    ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
    Sinks::Errors().clear();
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(a, 0, 0);
    EXPECT_EQ(1, r->LoadListedSignals());
    ASSERT_EQ(1u, Sinks::Errors().size());
    EXPECT_EQ(Quoted(path) + ": idcode 1: change 3491 has a tag before the previous one\n",
              Sinks::Errors()[0]);
    r->Close();
}

// Decoded changes that no traverser holds leave the cache beyond its bound and are decoded
// again from the file when a traverser asks for them: exactly, or refused when the file was
// changed in place meanwhile. A traverser keeps its signal's changes, shared with the others.
TEST_F(Hostile, DecodedChangesLeaveTheCacheAndAreDecodedAgain)
{
    nffr::testhooks::SetCacheBytes(0);  // only the last block used stays
    const std::string path = Write(TwoSignals(), dir_.File("cached.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    ffrObject* reference = Open(Write(TwoSignals(), dir_.File("reference.fsdb")));
    for (ffrObject* o : {r, reference}) {
        o->AddToLoadList(1, 0, 0);
        o->AddToLoadList(2, 0, 0);
        ASSERT_EQ(0, o->LoadListedSignals());
    }
    const auto expected = Changes(reference, 1, 1);
    ASSERT_EQ(4u, expected.size());
    EXPECT_EQ(expected, Changes(r, 1, 1));  // decoded again: signal 2 was loaded last
    ffrVCTraverser* held = r->CreateTraverser(1);
    ASSERT_NE(nullptr, held);
    std::vector<uint8_t> bytes = Image(TwoSignals());
    bytes[bytes.size() - 1] ^= 1;  // same size, changed in place
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::hours(1));
    EXPECT_EQ(expected, Changes(r, 1, 1));  // shares what held keeps
    held->FreeTraverser();
    EXPECT_TRUE(Sinks::Errors().empty());
    EXPECT_EQ(nullptr, r->CreateTraverser(2));  // not cached: decoded again, refused
    EXPECT_EQ((std::vector<std::string>{
                  Quoted(path) + ": idcode 2 cannot be traversed: the file was changed on disk "
                                 "since it was opened\n"}),
              Sinks::Errors());
    EXPECT_EQ(expected, Changes(r, 1, 1));  // the block used last stays cached
    r->Close();
    reference->Close();
}

// Truncated in place, or rewritten in place with the same size and stamp: the reader notices
// before it reads any value, refuses with a message, and NeedsReopen reports the file.
TEST_F(Hostile, FileChangedInPlaceIsNeverRead)
{
    std::string path = Write(WithLayout(TwoSignals(), 2), dir_.File("run.fsdb"));
    const std::string changed = ": the file was changed on disk since it was opened\n";

    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    std::error_code error;
    std::filesystem::resize_file(path, 300, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(1, r->NeedsReopen(nullptr));
    r->AddToLoadList(1, 0, 0);
    r->AddToLoadList(2, 0, 0);
    EXPECT_EQ(1, r->LoadListedSignals());
    EXPECT_EQ(nullptr, r->CreateTraverser(2));
    EXPECT_EQ((std::vector<std::string>{Quoted(path) + changed,
                                        Quoted(path) + ": idcode 2 cannot be traversed" + changed}),
              Sinks::Errors());
    r->Close();

    Write(WithLayout(TwoSignals(), 2), path);
    r = Open(path);
    ASSERT_NE(nullptr, r);
    std::vector<uint8_t> bytes = Image(WithLayout(TwoSignals(), 2));
    for (size_t i = L::Load64(&bytes[Entry(bytes, 0) + L::kVarOffBlockOffset]); i < bytes.size();
         ++i)
        bytes[i] ^= 1;  // same size, same stamp, other values
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    // An hour later, whatever the clock's granularity.
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::hours(1), error);
    ASSERT_FALSE(error) << error.message();
    Sinks::Errors().clear();
    EXPECT_EQ(1, r->NeedsReopen(nullptr));
    r->AddToLoadList(1, 0, 0);
    EXPECT_EQ(1, r->LoadListedSignals());
    EXPECT_EQ((std::vector<std::string>{Quoted(path) + changed}), Sinks::Errors());
    r->Close();
    EXPECT_TRUE(Violations::Seen().empty());
}

// An open under another spelling of a replaced file reads the new file, never the old data.
TEST_F(Hostile, OtherSpellingOfAReplacedFileReadsTheNewFile)
{
    std::string path = Write(TwoSignals(), dir_.File("run.fsdb"));
    auto firstTag = [&](ffrObject* r) {
        r->AddToLoadList(1, 0, 0);
        EXPECT_EQ(0, r->LoadListedSignals());
        ffrVCTraverser* t = r->CreateTraverser(1);
        TimeTag tag = {0, 0};
        if (t) {
            t->GetFirstTag(&tag);
            t->FreeTraverser();
        }
        return Tag64(tag);
    };
    ffrObject* old = Open(path);
    ASSERT_NE(nullptr, old);
    EXPECT_EQ(0u, firstTag(old));
    nffr::FileWriter newer;
    newer.SetFileType(0);
    newer.AddBits(newer.AddVar("a", 0, 1), 7, "1");
    Write(newer, path);
    for (const std::string& spelling :
         {dir_.File("./run.fsdb"), OtherSpelling(dir_, path, "link.fsdb")}) {
        ffrObject* r = Open(spelling);
        ASSERT_NE(nullptr, r) << spelling;
        EXPECT_NE(old, r) << spelling;
        EXPECT_EQ(7u, firstTag(r)) << spelling;
        r->Close();
    }
    old->Close();
    EXPECT_TRUE(Sinks::Errors().empty());
    EXPECT_TRUE(Violations::Seen().empty());
}

// 100,000 nested scopes open, walk and name their signal without memory growing with the
// square of the depth.
TEST_F(Hostile, DeepHierarchyOpensAndNamesLazily)
{
    const int depth = 100000;
    nffr::FileWriter w;
    for (int i = 0; i < depth; ++i)
        w.BeginScope("s");
    w.AddBits(w.AddVar("v", 0, 1), 0, "1");
    for (int i = 0; i < depth; ++i)
        w.EndScope();
    std::string path = Write(w, dir_.File("deep.fsdb"));
    struct Count {
        uint32_t scopes = 0, vars = 0, deepest = 0;
    } count;
    ffrObject* r = ffrObject::ffrOpen2(
        path.c_str(),
        [](uint32_t event, void* data, void* record) {
            Count* c = static_cast<Count*>(data);
            if (event == FFR_TREE_SCOPE_BEGIN) {
                ++c->scopes;
                c->deepest = static_cast<ffrScopeRecord*>(record)->depth;
            }
            c->vars += event == FFR_TREE_VAR;
            return true;
        },
        &count, 0);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(0, r->ReadSignalTree());
    EXPECT_EQ(uint32_t(depth), count.scopes);
    EXPECT_EQ(uint32_t(depth - 1), count.deepest);
    EXPECT_EQ(1u, count.vars);
    ffrVarInfo* info = nullptr;
    ASSERT_EQ(0, r->GetVarInfo(1, &info));
    std::string expected;
    for (int i = 0; i < depth; ++i)
        expected += "s.";
    EXPECT_EQ(expected + "v", info->name);
    r->Close();
}

// An exception thrown below the interface (here by the tree callback) comes back as a failed
// call and one message.
TEST_F(Hostile, NoExceptionCrossesTheInterface)
{
#if defined(_WIN32)
    GTEST_SKIP() << "on Windows every module links its own static unwinder, so an exception "
                    "thrown in the test program cannot unwind through nffr.dll's frames";
#endif
    std::string path = Write(TwoSignals(), dir_.File("run.fsdb"));
    ffrObject* r = ffrObject::ffrOpen2(
        path.c_str(), [](uint32_t, void*, void*) -> bool { throw std::bad_alloc(); }, nullptr, 0);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(1, r->ReadSignalTree());
    EXPECT_EQ((std::vector<std::string>{"ReadSignalTree: not enough memory\n"}), Sinks::Errors());
    r->Close();
}

// Without contract checks, misuse is an error message and a failed call.
TEST_F(Hostile, MisuseWithoutChecksIsAnErrorMessage)
{
    if (nffr::testhooks::ContractChecksEnabled())
        GTEST_SKIP() << "built with contract checks: misuse is a violation";
    std::string path = Write(TwoSignals(), dir_.File("run.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(nullptr, r->CreateTraverser(1));
    r->AddToLoadList(1, 0, 0);
    r->LoadListedSignals();
    ffrVCTraverser* t = r->CreateTraverser(1);
    ASSERT_NE(nullptr, t);
    t->FreeTraverser();
    t->FreeTraverser();
    r->Close();
    r->Close();
    EXPECT_EQ(-1, r->GetChangeCount(1));
    EXPECT_EQ((std::vector<std::string>{
                  "CreateTraverser of idcode 1, which is not loaded\n",
                  "FreeTraverser on a traverser after FreeTraverser\n",
                  "Close on a reader object whose uses have all been closed\n",
                  "GetChangeCount on a reader object whose uses have all been closed\n"}),
              Sinks::Errors());
    EXPECT_EQ(0, nffr::testhooks::ViolationCount());
}

// Offsets above 4 GiB: a sparse file whose change blocks lie beyond 5 GiB.
TEST_F(Hostile, ChangeBlocksBeyondFourGiB)
{
    std::vector<uint8_t> bytes = Image(Layout1(TwoSignals()));
    const uint64_t beyond = 5ull << 30;
    const uint64_t blocks = L::Load64(&bytes[Entry(bytes, 0) + L::kVarOffBlockOffset]);
    for (uint32_t i = 0; i < 2; ++i) {
        const uint64_t at = Entry(bytes, i) + L::kVarOffBlockOffset;
        L::Store64(&bytes[at], L::Load64(&bytes[at]) - blocks + beyond);
    }
    const uint64_t size = beyond + (bytes.size() - blocks);
    L::Store64(&bytes[L::kOffFileSize], size);
    std::string path = dir_.File("sparse.fsdb");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    bool written = std::fwrite(bytes.data(), 1, blocks, f) == blocks;
    std::fclose(f);
    ASSERT_TRUE(written);
    std::error_code error;
    std::filesystem::resize_file(path, beyond, error);
    if (error)
        GTEST_SKIP() << "the file system holds no sparse file of 5 GiB here";
    {
        std::fstream tail(path, std::ios::in | std::ios::out | std::ios::binary);
        tail.seekp(static_cast<std::streamoff>(beyond));
        tail.write(reinterpret_cast<const char*>(bytes.data() + blocks),
                   static_cast<std::streamsize>(bytes.size() - blocks));
        ASSERT_TRUE(tail.good());
        ASSERT_EQ(size, static_cast<uint64_t>(tail.tellp()));
    }
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(2, 0, 0);
    ASSERT_EQ(0, r->LoadListedSignals());
    ffrVCTraverser* t = r->CreateTraverser(2);
    ASSERT_NE(nullptr, t);
    std::vector<std::string> changes;
    do {
        TimeTag tag;
        unsigned char* value = nullptr;
        t->GetTag(&tag);
        t->GetValue(&value);
        changes.push_back(std::to_string(Tag64(tag)) + "=" + std::to_string(value[0]));
    } while (t->GotoNext() == 0);
    t->FreeTraverser();
    r->Close();
    std::remove(path.c_str());
    EXPECT_EQ((std::vector<std::string>{"5=1", "15=0", "25=1", "35=0"}), changes);
}

}  // namespace
