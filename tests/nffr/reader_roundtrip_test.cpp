// reader_roundtrip_test.cpp: files written by FileWriter read back through the reader: file
// information, tree walk, variable records, load list, change counts and traversal.
#include <cmath>
#include <cstring>

#include "nffr_test_util.h"

using namespace nffrtest;

namespace {

struct Event {
    uint32_t type;
    std::string name;
    int idcode;
    uint8_t varType;
    uint32_t bitSize;
};

struct Walk {
    std::vector<Event> events;
    size_t stopAfter = SIZE_MAX;
    static bool Callback(uint32_t type, void* client, void* record)
    {
        Walk* walk = static_cast<Walk*>(client);
        Event e{type, "", 0, 0, 0};
        if (type == FFR_TREE_SCOPE_BEGIN) {
            auto* scope = static_cast<ffrScopeRecord*>(record);
            e.name = scope->name;
            scope->name[0] = '#';  // names may be changed in place
        } else if (type == FFR_TREE_VAR) {
            auto* var = static_cast<ffrVarRecord*>(record);
            e = {type, var->name, var->idcode, var->varType, var->bitSize};
            var->name[0] = '#';
        }
        walk->events.push_back(e);
        return walk->events.size() < walk->stopAfter;
    }
};

class RoundTrip : public ReaderTest {};

TEST_F(RoundTrip, FileInfoAndChecks)
{
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    EXPECT_EQ(0, CheckFile(path.c_str()));
    EXPECT_TRUE(IsFsdbFile(path.c_str()));
    ffrFileInfo info;
    ASSERT_EQ(0, GetFileInfo(path.c_str(), &info));
    EXPECT_EQ(1, info.fileType);
    EXPECT_STREQ("10ps", info.timeUnit);
    EXPECT_EQ(20u, Tag64(info.endTag));  // default: the largest change tag
    EXPECT_EQ(3u, info.varCount);
    EXPECT_EQ(1u, info.scopeCount);

    nffr::FileWriter w;
    w.SetFileType(7);  // unsupported types are written and told, not refused here
    w.SetEndTag(0x100000005ull);
    Write(w, path);
    ASSERT_EQ(0, GetFileInfo(path.c_str(), &info));
    EXPECT_EQ(7, info.fileType);
    EXPECT_EQ(1u, info.endTag.high);
    EXPECT_EQ(5u, info.endTag.low);

    // Metadata of several zstd blocks, the first of which ends after the stamp: the header's
    // fields and the stamp are read from it alone, the rest when the file is opened.
    nffr::FileWriter big;
    big.SetStamp("a large run");
    big.BeginScope("top");
    for (int i = 0; i < 3000; ++i)
        big.AddBits(big.AddVar("a_signal_with_a_rather_long_name_" + std::to_string(i), 0, 1),
                    uint64_t(i), "1");
    big.EndScope();
    Write(big, path);
    ASSERT_EQ(0, GetFileInfo(path.c_str(), &info));
    EXPECT_EQ(2999u, Tag64(info.endTag));
    EXPECT_EQ(3000u, info.varCount);
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    char stamp[2048];
    EXPECT_EQ(0, r->GetStamp(stamp));
    EXPECT_STREQ("a large run", stamp);
    r->AddToLoadList(3000, 0, 0);
    EXPECT_EQ(0, r->LoadListedSignals());
    EXPECT_EQ(1, r->GetChangeCount(3000));
    r->Close();

    EXPECT_NE(0, CheckFile(dir_.File("missing.fsdb").c_str()));
    EXPECT_NE(0, GetFileInfo(dir_.File("missing.fsdb").c_str(), &info));
    EXPECT_EQ(-1, info.fileType);
}

TEST_F(RoundTrip, TreeWalkEventsAndWritableNames)
{
    nffr::FileWriter w;
    w.BeginScope("top");
    w.BeginScope("a/b");
    int x = w.AddVar("x/y", 'v', 1);
    w.EndScope();
    w.AddAlias("x_alias", x);
    w.AddVar("bus", 0, 8);
    w.EndScope();
    std::string path = Write(w, dir_.File("tree.fsdb"));

    Walk walk;
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), &Walk::Callback, &walk, 0);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(0, r->ReadSignalTree());
    std::vector<uint32_t> types;
    for (const Event& e : walk.events)
        types.push_back(e.type);
    EXPECT_EQ((std::vector<uint32_t>{1, 1, 2, 3, 2, 2, 3, 4}), types);
    EXPECT_EQ("a/b", walk.events[1].name);
    EXPECT_EQ("x/y", walk.events[2].name);
    EXPECT_EQ(walk.events[2].idcode, walk.events[4].idcode);
    EXPECT_EQ('v', walk.events[2].varType);
    EXPECT_EQ(8u, walk.events[5].bitSize);

    // A second walk hands out the stored names again, and a false result stops the walk.
    Walk again;
    again.stopAfter = 2;
    ffrObject* r2 = ffrObject::ffrOpen2(path.c_str(), &Walk::Callback, &again, 0);
    ASSERT_EQ(r, r2);
    r2->ReadSignalTree();
    ASSERT_EQ(2u, again.events.size());
    EXPECT_EQ("top", again.events[0].name);

    ffrVarInfo* info = nullptr;
    ASSERT_EQ(0, r->GetVarInfo(x, &info));
    ASSERT_NE(nullptr, info);
    EXPECT_EQ('v', *reinterpret_cast<uint8_t*>(info));  // first byte: the variable type
    EXPECT_STREQ("top.a/b.x/y", info->name);
    ffrVarInfo* same = nullptr;
    r->GetVarInfo(x, &same);
    EXPECT_EQ(info, same);
    EXPECT_NE(0, r->GetVarInfo(99, &info));
    EXPECT_EQ(nullptr, info);
    r->Close();
    r->Close();
}

TEST_F(RoundTrip, LoadListCountsAndTraversal)
{
    nffr::FileWriter w = SmallFile();
    int unknown = w.AddVar("unknown", 'v', 1);
    w.AddReal(unknown, 3, 1.0);
    w.SetCountUnknown(unknown);
    int over = w.AddVar("over", 'v', 1);
    w.AddReal(over, 3, 1.0);
    w.SetRecordedCount(over, 9);
    std::string path = Write(w, dir_.File("small.fsdb"));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);

    EXPECT_EQ(0, r->AddToLoadList(-1, 0, 0));
    EXPECT_FALSE(r->IsInLoadList(1));
    // Not loaded: null and a violation, or an error message without the checks.
    const size_t violations = nffr::testhooks::ContractChecksEnabled() ? 1 : 0;
    EXPECT_EQ(nullptr, r->CreateTraverser(1));
    EXPECT_EQ(violations, Violations::Seen().size());
    EXPECT_EQ(1 - violations, Sinks::Errors().size());
    EXPECT_EQ(nullptr, r->CreateTraverser(99));  // unknown: null only
    EXPECT_EQ(violations, Violations::Seen().size());
    EXPECT_EQ(1 - violations, Sinks::Errors().size());
    EXPECT_EQ(0, r->AddToLoadList(1, 0, 0));
    EXPECT_TRUE(r->IsInLoadList(1));
    EXPECT_NE(0, r->AddToLoadList(99, 0, 0));
    EXPECT_EQ(0, r->LoadListedSignals());

    EXPECT_EQ(3, r->GetChangeCount(1));
    EXPECT_EQ(0, r->GetChangeCount(unknown));
    EXPECT_EQ(9, r->GetChangeCount(over));
    EXPECT_EQ(-1, r->GetChangeCount(99));

    ffrVCTraverser* t = r->CreateTraverser(1);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(3, t->ValueDataType());
    EXPECT_EQ(1u, t->ValueBitSize());
    EXPECT_TRUE(t->HasChanges());
    TimeTag tag;
    ASSERT_EQ(0, t->GetFirstTag(&tag));
    EXPECT_EQ(0u, Tag64(tag));
    ASSERT_EQ(0, t->GetLastTag(&tag));
    EXPECT_EQ(20u, Tag64(tag));
    std::vector<double> values;
    std::vector<uint64_t> tags;
    do {
        unsigned char* value = nullptr;
        ASSERT_EQ(0, t->GetValue(&value));
        double d;
        std::memcpy(&d, value, sizeof d);
        values.push_back(d);
        ASSERT_EQ(0, t->GetTag(&tag));
        tags.push_back(Tag64(tag));
    } while (t->GotoNext() == 0);
    EXPECT_EQ((std::vector<double>{0.5, 1.5, 2.5}), values);
    EXPECT_EQ((std::vector<uint64_t>{0, 10, 20}), tags);
    t->FreeTraverser();

    r->AddToLoadList(2, 0, 0);
    r->AddToLoadList(3, 0, 0);
    r->LoadListedSignals();
    t = r->CreateTraverser(2);  // floats
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(2, t->ValueDataType());
    unsigned char* value = nullptr;
    ASSERT_EQ(0, t->GetValue(&value));
    float f;
    std::memcpy(&f, value, sizeof f);
    EXPECT_EQ(0.25f, f);
    EXPECT_NE(0, t->GotoNext());  // a single change
    t->FreeTraverser();
    t = r->CreateTraverser(3);  // one byte per bit
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(4u, t->ValueBitSize());
    ASSERT_EQ(0, t->GetValue(&value));
    EXPECT_EQ(0, std::memcmp(value, "\0\1\2\3", 4));
    t->FreeTraverser();
    r->Close();
    EXPECT_EQ(violations, Violations::Seen().size());
}

TEST_F(RoundTrip, GotoTagPositionsOnTheChangeInForce)
{
    nffr::FileWriter w;
    w.SetFileType(0);
    int d = w.AddVar("d", 0, 1);
    for (uint64_t tag : {10, 20, 20, 30})
        w.AddBits(d, tag, tag == 30 ? "1" : "0");
    int empty = w.AddVar("empty", 0, 0);
    int zero = w.AddVar("zero", 0, 0);
    w.AddChange(zero, 4, {});
    std::string path = Write(w, dir_.File("goto.fsdb"));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    for (int id : {d, empty, zero})
        r->AddToLoadList(id, 0, 0);
    ASSERT_EQ(0, r->LoadListedSignals());
    ffrVCTraverser* t = r->CreateTraverser(d);
    ASSERT_NE(nullptr, t);
    auto at = [&](uint64_t want) {
        TimeTag tag = MakeTag(want);
        EXPECT_EQ(0, t->GotoTag(&tag, 0));
        EXPECT_EQ(0, t->GetTag(&tag));
        return Tag64(tag);
    };
    EXPECT_EQ(10u, at(10));
    EXPECT_EQ(10u, at(19));
    EXPECT_EQ(20u, at(25));
    EXPECT_EQ(30u, at(30));
    EXPECT_EQ(30u, at(UINT64_MAX));
    TimeTag tag = MakeTag(20);
    t->GotoTag(&tag, 0);  // on the last of the two changes at 20: the next is at 30
    EXPECT_EQ(0, t->GotoNext());
    EXPECT_EQ(30u, (t->GetTag(&tag), Tag64(tag)));
    EXPECT_NE(0, t->GotoNext());
    // Before the first change no change is in force; the next one is the first.
    tag = MakeTag(9);
    EXPECT_EQ(0, t->GotoTag(&tag, 0));
    EXPECT_NE(0, t->GetTag(&tag));
    EXPECT_EQ(9u, Tag64(tag));
    EXPECT_EQ(0, t->GotoNext());
    EXPECT_EQ(10u, (t->GetTag(&tag), Tag64(tag)));
    t->FreeTraverser();

    t = r->CreateTraverser(empty);
    ASSERT_NE(nullptr, t);
    EXPECT_FALSE(t->HasChanges());
    unsigned char* value = nullptr;
    EXPECT_NE(0, t->GetFirstTag(&tag));
    EXPECT_NE(0, t->GetLastTag(&tag));
    EXPECT_NE(0, t->GetValue(&value));
    EXPECT_NE(0, t->GotoTag(&tag, 0));
    EXPECT_NE(0, t->GotoNext());
    t->FreeTraverser();
    t = r->CreateTraverser(zero);  // a 0-bit value still has a valid pointer
    ASSERT_EQ(0, t->GetValue(&value));
    EXPECT_NE(nullptr, value);
    t->FreeTraverser();
    r->Close();
}

TEST_F(RoundTrip, WriterRefusesInconsistentDescriptions)
{
    std::vector<uint8_t> bytes;
    std::string error;
    nffr::FileWriter w;
    w.SetFileType(0);
    int d = w.AddVar("d", 0, 2);
    w.AddChange(d, 0, {1});
    EXPECT_FALSE(w.Bytes(&bytes, &error));
    EXPECT_NE(std::string::npos, error.find("1 bytes where 2"));

    nffr::FileWriter order;
    int v = order.AddVar("v", 'v', 1);
    order.AddReal(v, 10, 1);
    order.AddReal(v, 5, 1);
    EXPECT_FALSE(order.Bytes(&bytes, &error));
    EXPECT_NE(std::string::npos, error.find("before the previous"));

    nffr::FileWriter dup;
    dup.AddVar("a", 'v', 1, 3, 4);
    EXPECT_EQ(0, dup.AddVar("b", 'v', 1, 3, 4));
    EXPECT_FALSE(dup.Bytes(&bytes, &error));

    // The reader takes a name up to its NUL: a name holding one would spoil the hierarchy.
    nffr::FileWriter alias;
    alias.AddAlias(std::string("a\0b", 3), alias.AddVar("a", 'v', 1));
    EXPECT_FALSE(alias.Bytes(&bytes, &error));
    EXPECT_EQ("alias name holding NUL", error);

    nffr::FileWriter bits;
    bits.SetFileType(0);
    bits.AddBits(bits.AddVar("b", 0, 1), 0, "q");
    EXPECT_FALSE(bits.Bytes(&bytes, &error));
    EXPECT_FALSE(SmallFile().Write(dir_.File("no/such/dir.fsdb"), &error));
}

// Before a signal's first change its value is unknown: X in every bit of a logic value, a
// quiet NaN for a real; from the first change on the stored values come back.
TEST_F(RoundTrip, NoValueIsInForceBeforeTheFirstChange)
{
    nffr::FileWriter w;
    w.SetFileType(1);
    int bits = w.AddVar("bits", 0, 3);
    w.AddBits(bits, 100, "01z");
    int dbl = w.AddVar("dbl", 'v', 64);
    w.AddReal(dbl, 50, 1.5);
    int flt = w.AddVar("flt", 'v', 32, 2);
    w.AddReal(flt, 50, 2.5);
    std::string path = Write(w, dir_.File("late.fsdb"));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    for (int id : {bits, dbl, flt})
        r->AddToLoadList(id, 0, 0);
    ASSERT_EQ(0, r->LoadListedSignals());
    auto valueAt = [&](int id, uint64_t when, size_t size) {
        ffrVCTraverser* t = r->CreateTraverser(id);
        EXPECT_NE(nullptr, t);
        if (!t)
            return std::vector<uint8_t>();
        TimeTag tag = MakeTag(when);
        unsigned char* value = nullptr;
        EXPECT_EQ(0, t->GotoTag(&tag, 0));
        EXPECT_EQ(0, t->GetValue(&value));
        std::vector<uint8_t> bytes(value, value + size);
        t->FreeTraverser();
        return bytes;
    };
    EXPECT_EQ((std::vector<uint8_t>{2, 2, 2}), valueAt(bits, 99, 3));
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 3}), valueAt(bits, 100, 3));
    double d = 0;
    std::vector<uint8_t> bytes = valueAt(dbl, 0, sizeof d);
    std::memcpy(&d, bytes.data(), sizeof d);
    EXPECT_TRUE(std::isnan(d));
    bytes = valueAt(dbl, 50, sizeof d);
    std::memcpy(&d, bytes.data(), sizeof d);
    EXPECT_EQ(1.5, d);
    float f = 0;
    bytes = valueAt(flt, 49, sizeof f);
    std::memcpy(&f, bytes.data(), sizeof f);
    EXPECT_TRUE(std::isnan(f));
    r->Close();
}

}  // namespace

// The per-change calls over the traverser's cursor, before any test hook is armed (shipped
// builds then run them inline in the caller): the first and the last change, the end, the
// unknown value after GotoTag before the first change, and every change of blocks large enough
// to be placed apart in memory. Arming the hooks afterwards sends the calls of a traverser that
// already exists through the library, where injected failures reach them.
TEST(TraverserCursor, PerChangeCallsFromFirstToLastChange)
{
    TempDir dir;
    nffr::FileWriter w;
    w.SetFileType(0);
    int narrow = w.AddVar("small", 0, 3);
    const uint64_t lateTag = (uint64_t(1) << 40) + 3;
    const std::vector<std::pair<uint64_t, std::string>> changes = {
        {5, "01z"}, {7, "x10"}, {7, "111"}, {lateTag, "000"}};
    for (const auto& change : changes)
        w.AddBits(narrow, change.first, change.second);
    std::vector<int> large;
    const uint32_t largeCount = 70000;  // 630000 bytes per block
    for (int s = 0; s < 3; s++) {
        large.push_back(w.AddVar("large" + std::to_string(s), 0, 1));
        for (uint32_t i = 0; i < largeCount; i++)
            w.AddChange(large.back(), 3 * uint64_t(i) + s, {uint8_t((i * 7 + s) % 4)});
    }
    std::string path = Write(w, dir.File("cursor.fsdb"));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(narrow, 0, 0);
    for (int id : large)
        r->AddToLoadList(id, 0, 0);
    ASSERT_EQ(0, r->LoadListedSignals());

    ffrVCTraverser* t = r->CreateTraverser(narrow);
    ASSERT_NE(nullptr, t);
    std::vector<std::pair<uint64_t, std::string>> seen;
    TimeTag tag{0, 0};
    unsigned char* value = nullptr;
    auto current = [&] {
        std::string bits;
        EXPECT_EQ(0, t->GetValue(&value));
        for (int b = 0; b < 3; b++)
            bits += "01xz"[value[b]];
        return bits;
    };
    do {
        ASSERT_EQ(0, t->GetTag(&tag));
        seen.push_back({Tag64(tag), current()});
    } while (t->GotoNext() == 0);
    EXPECT_EQ(changes, seen);
    // At the end the traverser stays on the last change.
    EXPECT_NE(0, t->GotoNext());
    ASSERT_EQ(0, t->GetTag(&tag));
    EXPECT_EQ(lateTag, Tag64(tag));
    EXPECT_EQ("000", current());
    // Before the first change: no tag, the unknown value, and the next change is the first.
    tag = MakeTag(4);
    ASSERT_EQ(0, t->GotoTag(&tag, 0));
    EXPECT_NE(0, t->GetTag(&tag));
    EXPECT_EQ("xxx", current());
    ASSERT_EQ(0, t->GotoNext());
    ASSERT_EQ(0, t->GetTag(&tag));
    EXPECT_EQ(5u, Tag64(tag));
    EXPECT_EQ("01z", current());
    // From the middle on: the last of the two changes at 7, then the far one.
    tag = MakeTag(7);
    ASSERT_EQ(0, t->GotoTag(&tag, 0));
    EXPECT_EQ("111", current());
    ASSERT_EQ(0, t->GotoNext());
    ASSERT_EQ(0, t->GetTag(&tag));
    EXPECT_EQ(lateTag, Tag64(tag));

    for (int s = 0; s < 3; s++) {
        ffrVCTraverser* big = r->CreateTraverser(large[s]);
        ASSERT_NE(nullptr, big);
        uint32_t wrong = 0;
        uint32_t i = 0;
        do {
            big->GetTag(&tag);
            big->GetValue(&value);
            wrong += Tag64(tag) != 3 * uint64_t(i) + s || *value != (i * 7 + s) % 4;
            i++;
        } while (big->GotoNext() == 0);
        EXPECT_EQ(largeCount, i) << s;
        EXPECT_EQ(0u, wrong) << s;
        big->FreeTraverser();
    }

    tag = MakeTag(5);
    ASSERT_EQ(0, t->GotoTag(&tag, 0));
    nffr::testhooks::Reset();
    nffr::testhooks::FailNthCall(nffr::testhooks::Op::GetTag, 1);
    EXPECT_NE(0, t->GetTag(&tag));
    nffr::testhooks::FailNthCall(nffr::testhooks::Op::GetValue, 1);
    EXPECT_NE(0, t->GetValue(&value));
    EXPECT_EQ(0, t->GotoNext());
    EXPECT_EQ(1, nffr::testhooks::CallCount(nffr::testhooks::Op::GotoNext));
    ASSERT_EQ(0, t->GetTag(&tag));
    EXPECT_EQ(7u, Tag64(tag));
    t->FreeTraverser();
    r->Close();
    nffr::testhooks::Reset();
}
