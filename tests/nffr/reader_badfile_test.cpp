// reader_badfile_test.cpp: truncated, damaged and hostile files are refused through the error
// sink, never read out of bounds; recoverable oddities come as warnings.
#include <cstring>
#include <functional>
#include <tuple>

#include "nffr_layout.h"
#include "nffr_test_util.h"

using namespace nffrtest;
namespace L = nffr::layout;

namespace {

class BadFile : public ReaderTest {
protected:
    // True when the image is refused both ways, with an error message.
    bool Refused(const std::vector<uint8_t>& bytes)
    {
        std::string path = dir_.File("bad.fsdb");
        EXPECT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        Sinks::Errors().clear();
        bool isFsdb = IsFsdbFile(path.c_str());
        ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
        if (r)
            r->Close();
        return !isFsdb && !r && Sinks::Errors().size() == 2;
    }
    // True when the image opens without a message and loading idcode 1 is refused with one.
    bool RefusedAtLoad(const std::vector<uint8_t>& bytes)
    {
        std::string path = dir_.File("bad.fsdb");
        EXPECT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        Sinks::Errors().clear();
        ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
        if (!r || !Sinks::Errors().empty())
            return false;
        r->AddToLoadList(1, 0, 0);
        const bool refused = r->LoadListedSignals() == 1 && Sinks::Errors().size() == 1;
        r->Close();
        return refused;
    }
    size_t VarEntry(const std::vector<uint8_t>& b, size_t i)
    {
        return static_cast<size_t>(L::Load64(&b[L::kOffVarTableOffset])) + i * L::kVarEntrySize;
    }
    std::vector<uint8_t> good_ = Image(Layout1(SmallFile()));
};

TEST_F(BadFile, EveryTruncationAndExtensionIsRefused)
{
    for (size_t n = 0; n < good_.size(); ++n)
        EXPECT_TRUE(Refused(std::vector<uint8_t>(good_.begin(), good_.begin() + n))) << n;
    std::vector<uint8_t> longer = good_;
    longer.push_back(0);
    EXPECT_TRUE(Refused(longer));
    EXPECT_FALSE(Refused(good_));
}

TEST_F(BadFile, DamagedHeaderFieldsAreRefused)
{
    struct Damage {
        const char* what;
        void (*apply)(std::vector<uint8_t>&);
    };
    const Damage damages[] = {
        {"magic", [](std::vector<uint8_t>& b) { b[0] ^= 1; }},
        {"version", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffVersion], 4); }},
        {"header size", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffHeaderSize], 8); }},
        {"flags", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffFlags], 6); }},
        {"hierarchy offset",
         [](std::vector<uint8_t>& b) { L::Store64(&b[L::kOffHierOffset], ~0ull - 4); }},
        {"hierarchy size",
         [](std::vector<uint8_t>& b) { L::Store64(&b[L::kOffHierSize], 1ull << 40); }},
        {"variable count",
         [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffVarCount], 0xffffffffu); }},
        {"table offset",
         [](std::vector<uint8_t>& b) { L::Store64(&b[L::kOffVarTableOffset], b.size() - 8); }},
        {"scope count",
         [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffScopeCount], 0x7fffffffu); }},
        {"tree count", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffTreeVarCount], 1); }},
        {"unit", [](std::vector<uint8_t>& b) { std::memset(&b[L::kOffUnit], 'u', L::kUnitSize); }},
        {"stamp length", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffStampLength], 4000); }},
        {"stamp offset",
         [](std::vector<uint8_t>& b) { L::Store64(&b[L::kOffStampOffset], b.size()); }},
        {"stamp end", [](std::vector<uint8_t>& b) { L::Store32(&b[L::kOffStampLength], 2); }},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> bytes = good_;
        d.apply(bytes);
        EXPECT_TRUE(Refused(bytes)) << d.what;
    }
}

TEST_F(BadFile, DamagedHierarchyAndTableAreRefused)
{
    const size_t hier = static_cast<size_t>(L::Load64(&good_[L::kOffHierOffset]));
    std::vector<uint8_t> bytes = good_;
    bytes[hier] = 9;  // unknown record
    EXPECT_TRUE(Refused(bytes));
    bytes = good_;
    bytes[hier + 5 + 3] = 'x';  // the NUL after "top"
    EXPECT_TRUE(Refused(bytes));
    bytes = good_;
    L::Store32(&bytes[hier + 1], 0x7fffffff);  // name length past the end
    EXPECT_TRUE(Refused(bytes));
    bytes = good_;
    bytes[hier] = L::kRecScopeEnd;  // scope end at the top
    EXPECT_TRUE(Refused(bytes));
    bytes = good_;
    L::Store32(&bytes[hier + 9 + 1], 77);  // variable-table index out of range
    EXPECT_TRUE(Refused(bytes));

    const size_t e = VarEntry(good_, 0);
    bytes = good_;
    L::Store32(&bytes[e + L::kVarOffIdcode], 0);
    EXPECT_TRUE(Refused(bytes));
    bytes = good_;
    L::Store32(&bytes[e + L::kVarOffIdcode], 2);  // the second variable's idcode
    EXPECT_TRUE(Refused(bytes));
    // A damaged variable record refuses only its signal, when it is loaded.
    bytes = good_;
    L::Store32(&bytes[e + L::kVarOffChangeCount],
               0x10000000);  // counts that would allocate gigabytes
    EXPECT_TRUE(RefusedAtLoad(bytes));
    bytes = good_;
    L::Store64(&bytes[e + L::kVarOffBlockOffset], bytes.size() - 4);
    EXPECT_TRUE(RefusedAtLoad(bytes));
    bytes = good_;
    L::Store32(&bytes[e + L::kVarOffValueSize], 0xfffffff0u);
    EXPECT_TRUE(RefusedAtLoad(bytes));
}

// Idcodes need not rise in table order: each is still found with its own variable.
TEST_F(BadFile, IdcodesOutOfTableOrderAreFound)
{
    std::vector<uint8_t> bytes = good_;
    L::Store32(&bytes[VarEntry(good_, 0) + L::kVarOffIdcode], 3);
    L::Store32(&bytes[VarEntry(good_, 2) + L::kVarOffIdcode], 1);
    std::string path = dir_.File("unordered.fsdb");
    ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    std::string names;
    ffrVarInfo* info = nullptr;
    for (int idcode = 1; idcode <= 3; ++idcode)
        names += r->GetVarInfo(idcode, &info) == 0 ? std::string(info->name) + " " : "none ";
    r->Close();
    EXPECT_EQ("top.d top.i top.v ", names);
}

// Layout 2's metadata block is checked before it is allocated or decoded, and what it holds is
// checked as the file's bytes are in layout 1; so are layout 3's short header and the record of
// the header's other fields that opens its metadata.
TEST_F(BadFile, DamagedMetadataIsRefused)
{
    const std::vector<uint8_t> packed = Image(WithLayout(SmallFile(), 2)),
                               plain = PlainMetadata(packed), packed3 = Image(SmallFile()),
                               plain3 = PlainMetadata(packed3);
    const size_t at = static_cast<size_t>(L::Load64(&packed[L::kOffMetaOffset]));
    const std::string stored = std::to_string(L::Load32(&packed[L::kOffMetaStored]));
    const size_t at3 = static_cast<size_t>(L::Load64(&plain3[L::kOff3MetaOffset]));
    // A field of layout 3's record, in the plain image.
    auto field = [at3](uint32_t offset) { return at3 + offset - L::kMetaRecordFrom; };
    using Damage = std::function<void(std::vector<uint8_t>&)>;
    enum Image { kPacked, kPlain, kPacked3, kPlain3 };
    const std::tuple<Image, Damage, std::string> cases[] = {
        {kPacked, [](auto& b) { b[L::kOffMetaCodec] = 7; }, "metadata: unknown codec 7"},
        {kPacked, [](auto& b) { L::Store32(&b[L::kOffMetaDecoded], 0x7fffffff); },
         "metadata: " + stored +
             " stored bytes claim 2147483647 decoded (more than 1024 times as many)"},
        {kPacked, [](auto& b) { L::Store64(&b[L::kOffMetaOffset], 8); },
         "metadata lies outside the file"},
        {kPacked, [&](auto& b) { b[at] ^= 1; }, "metadata: its compressed bytes are damaged"},
        {kPacked,
         [](auto& b) { L::Store32(&b[L::kOffMetaDecoded], L::Load32(&b[L::kOffMetaDecoded]) + 1); },
         "metadata: its compressed bytes are damaged or do not give its decoded size"},
        {kPlain,
         [](auto& b) { L::Store32(&b[L::kOffMetaDecoded], L::Load32(&b[L::kOffMetaDecoded]) - 1); },
         "metadata: stored uncompressed but its sizes differ"},
        {kPlain,
         [](auto& b) {
             L::Store64(&b[L::kOffVarTableOffset], L::Load32(&b[L::kOffMetaDecoded]) - 8);
         },
         "variable table of 3 entries lies outside the file"},
        {kPlain,
         [](auto& b) { L::Store64(&b[L::kOffHierOffset], L::Load32(&b[L::kOffMetaDecoded])); },
         "hierarchy lies outside the file"},
        {kPacked3, [](auto& b) { L::Store32(&b[L::kOffHeaderSize], L::kHeaderSize); },
         "bad header size"},
        {kPacked3, [](auto& b) { b[L::kOff3MetaCodec] = 7; }, "metadata: unknown codec 7"},
        {kPacked3, [](auto& b) { L::Store64(&b[L::kOff3MetaOffset], L::kHeaderSize3 - 1); },
         "metadata lies outside the file"},
        {kPacked3, [](auto& b) { L::Store64(&b[L::kOff3FileSize], b.size() + 1); },
         "file is " + std::to_string(packed3.size()) + " bytes, its header says " +
             std::to_string(packed3.size() + 1) + " (truncated or extended)"},
        {kPlain3,
         [](auto& b) {
             L::Store32(&b[L::kOff3MetaDecoded], L::kMetaRecordSize - 1);
             L::Store32(&b[L::kOff3MetaStored], L::kMetaRecordSize - 1);
         },
         "metadata: too short to hold the header's fields"},
        {kPlain3, [&](auto& b) { std::memset(&b[field(L::kOffUnit)], 'u', L::kUnitSize); },
         "time unit text not terminated"},
        {kPlain3, [&](auto& b) { L::Store64(&b[field(L::kOffVarTableOffset)], 1u << 20); },
         "variable table of 3 entries lies outside the file"},
        {kPlain3, [&](auto& b) { L::Store32(&b[field(L::kOffStampLength)], 4000); },
         "creation stamp lies outside the file or is too long"},
    };
    const std::vector<uint8_t>* images[] = {&packed, &plain, &packed3, &plain3};
    for (const auto& [image, damage, message] : cases) {
        std::vector<uint8_t> bytes = *images[image];
        damage(bytes);
        EXPECT_TRUE(Refused(bytes)) << message;
        EXPECT_EQ("\"" + dir_.File("bad.fsdb") + "\": " + message + "\n", Sinks::Errors().back());
    }
    EXPECT_FALSE(Refused(plain));
    EXPECT_FALSE(Refused(plain3));
}

TEST_F(BadFile, UnsortedTagsRefuseOnlyThatSignal)
{
    std::vector<uint8_t> bytes = good_;
    const size_t block =
        static_cast<size_t>(L::Load64(&bytes[VarEntry(bytes, 0) + L::kVarOffBlockOffset]));
    L::Store64(&bytes[block + 8], 100);  // 0, 100, 20
    std::string path = dir_.File("unsorted.fsdb");
    ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
    EXPECT_TRUE(IsFsdbFile(path.c_str()));  // value data is not read before loading
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(1, 0, 0);
    r->AddToLoadList(2, 0, 0);
    EXPECT_NE(0, r->LoadListedSignals());
    ASSERT_EQ(1u, Sinks::Errors().size());
    EXPECT_NE(std::string::npos, Sinks::Errors()[0].find("idcode 1"));
    ffrVCTraverser* t = r->CreateTraverser(2);
    ASSERT_NE(nullptr, t);
    t->FreeTraverser();
    EXPECT_EQ(nullptr, r->CreateTraverser(1));
    r->Close();
}

TEST_F(BadFile, OpenScopesAndUnnamedVariablesAreWarnings)
{
    std::vector<uint8_t> bytes = good_;
    // Drop the final scope end, and point the second tree entry's variable at signal 0 so that
    // signal 1 has no name.
    const size_t hier = static_cast<size_t>(L::Load64(&bytes[L::kOffHierOffset]));
    const size_t hierSize = static_cast<size_t>(L::Load64(&bytes[L::kOffHierSize]));
    ASSERT_EQ(L::kRecScopeEnd, bytes[hier + hierSize - 1]);
    L::Store64(&bytes[L::kOffHierSize], hierSize - 1);
    std::string path = dir_.File("odd.fsdb");
    ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    EXPECT_TRUE(Sinks::Errors().empty());
    ASSERT_EQ(1u, Sinks::Warnings().size());
    EXPECT_NE(std::string::npos, Sinks::Warnings()[0].find("left open"));
    r->Close();
}

TEST_F(BadFile, FlippingAnyByteNeverCrashes)
{
    for (size_t i = 0; i < good_.size(); ++i) {
        std::vector<uint8_t> bytes = good_;
        bytes[i] ^= 0xa5;
        std::string path = dir_.File("flip.fsdb");
        ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
        if (!r)
            continue;
        r->ReadSignalTree();
        for (int id = 1; id <= 3; ++id)
            r->AddToLoadList(id, 0, 0);
        r->LoadListedSignals();
        for (int id = 1; id <= 3; ++id) {
            ffrVCTraverser* t = r->IsInLoadList(id) ? r->CreateTraverser(id) : nullptr;
            if (!t)
                continue;
            unsigned char* value = nullptr;
            do
                t->GetValue(&value);
            while (t->GotoNext() == 0);
            t->FreeTraverser();
        }
        r->Close();
    }
    SUCCEED();
}

}  // namespace
