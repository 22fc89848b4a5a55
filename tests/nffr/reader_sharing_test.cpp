// reader_sharing_test.cpp: one reader object per file counted by uses, rewrite detection,
// stamps read from disk, and the contract checks on dead objects and freed traversers.
#include <cstring>
#include <fstream>

#include "nffr_test_util.h"

using namespace nffrtest;

namespace {

class Sharing : public ReaderTest {
protected:
    ffrObject* Open(const std::string& path)
    {
        return ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    }
};

TEST_F(Sharing, OneObjectPerFileByAnySpelling)
{
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* a = Open(path);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(a, Open(dir_.File("./small.fsdb")));
    EXPECT_EQ(a, Open(OtherSpelling(dir_, path, "link.fsdb")));
    EXPECT_EQ(a, Open(dir_.File("../") +
                      std::filesystem::path(dir_.File("")).parent_path().filename().string() +
                      "/small.fsdb"));
    int opens = nffr::testhooks::CallCount(nffr::testhooks::Op::Open);
    EXPECT_EQ(4, opens);
    // Loads made through one use are seen by all.
    a->AddToLoadList(1, 0, 0);
    a->LoadListedSignals();
    for (int i = 0; i < 3; ++i)
        a->Close();
    ffrVCTraverser* t = a->CreateTraverser(1);
    ASSERT_NE(nullptr, t);
    a->Close();  // last use: the object dies, the traverser keeps its bytes
    TimeTag tag;
    EXPECT_EQ(0, t->GetLastTag(&tag));
    EXPECT_EQ(20u, Tag64(tag));
    t->FreeTraverser();
    EXPECT_TRUE(Violations::Seen().empty());

    ffrObject* b = Open(path);  // a new object, never the dead address while checks are on
    ASSERT_NE(nullptr, b);
    if (nffr::testhooks::ContractChecksEnabled()) {
        EXPECT_NE(a, b);
    }
    b->Close();
}

TEST_F(Sharing, RewriteIsDetectedAndStampsAreReadFromDisk)
{
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    unsigned char flag = 7;
    EXPECT_EQ(0, r->NeedsReopen(&flag));
    EXPECT_EQ(0, flag);
    char stamp[2048];
    EXPECT_EQ(1, r->HasStamp());
    ASSERT_EQ(0, r->GetStamp(stamp));
    EXPECT_STREQ("run 1", stamp);

    nffr::FileWriter w = SmallFile();
    w.SetStamp(std::string(2047, 's'));
    Write(w, path);  // replaced through a rename
    EXPECT_NE(0, r->NeedsReopen(&flag));
    EXPECT_EQ(1, flag);
    ASSERT_EQ(0, r->GetStamp(stamp));
    EXPECT_EQ(std::string(2047, 's'), stamp);
    // Opening the replaced file reads it afresh, whatever the spelling; the old object stays
    // with its holder and refuses to load from the file it no longer matches.
    ffrObject* fresh = Open(dir_.File("./small.fsdb"));
    ASSERT_NE(nullptr, fresh);
    EXPECT_NE(r, fresh);
    EXPECT_EQ(0, fresh->NeedsReopen(nullptr));
    EXPECT_EQ(fresh, Open(path));
    fresh->Close();
    EXPECT_EQ(0, r->AddToLoadList(1, 0, 0));
    EXPECT_NE(0, r->LoadListedSignals());
    EXPECT_EQ(nullptr, r->CreateTraverser(1));
    EXPECT_EQ((std::vector<std::string>{
                  "\"" + path + "\": the file was replaced or removed since it was opened\n",
                  "\"" + path +
                      "\": idcode 1 cannot be traversed: the file was replaced or removed since "
                      "it was opened\n"}),
              Sinks::Errors());
    r->ReleaseForReopen();
    r->Close();
    Sinks::Errors().clear();

    w.ClearStamp();
    Write(w, path);
    EXPECT_EQ(0, fresh->HasStamp());
    EXPECT_NE(0, fresh->GetStamp(stamp));
    EXPECT_STREQ("", stamp);
    EXPECT_NE(0, fresh->NeedsReopen(nullptr));
    std::filesystem::remove(path);
    EXPECT_NE(0, fresh->NeedsReopen(nullptr));
    EXPECT_EQ(0, fresh->HasStamp());
    fresh->Close();
    EXPECT_TRUE(Violations::Seen().empty());
}

// An open just after IsFsdbFile reads the file as it is then: the model the check parsed serves
// only the same file, unchanged.
TEST_F(Sharing, OpenAfterCheckReadsTheFileAsItIsNow)
{
    nffr::FileWriter other;
    other.BeginScope("top");
    other.AddVar("w", 'v', 1);
    other.EndScope();
    const std::string a = dir_.File("a.fsdb"), b = Write(other, dir_.File("b.fsdb"));
    const ffrTreeCallback collect = [](uint32_t event, void* names, void* var) {
        if (event == FFR_TREE_VAR)
            *static_cast<std::string*>(names) += static_cast<ffrVarRecord*>(var)->name;
        return true;
    };
    // a checked, then opened: as checked; b opened instead; a rewritten after its check.
    const char* expected[] = {"vid", "w", "w"};
    for (int c = 0; c < 3; ++c) {
        Write(SmallFile(), a);
        EXPECT_TRUE(IsFsdbFile(a.c_str()));
        if (c == 2)
            Write(other, a);
        std::string names;
        ffrObject* r = ffrObject::ffrOpen2((c == 1 ? b : a).c_str(), collect, &names, 0);
        ASSERT_NE(nullptr, r);
        r->ReadSignalTree();
        r->Close();
        EXPECT_EQ(expected[c], names) << "case " << c;
    }
}

TEST_F(Sharing, InPlaceRewriteOfTheSameSizeIsDetected)
{
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    nffr::FileWriter w = SmallFile();
    w.SetStamp("run 2");
    std::vector<uint8_t> bytes = Image(w);
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_NE(0, r->NeedsReopen(nullptr));
    char stamp[2048];
    r->GetStamp(stamp);
    EXPECT_STREQ("run 2", stamp);
    r->Close();
}

// Windows renames nothing over a file that another program holds without delete sharing: the
// write fails with one message, the file keeps its name and bytes, and no copy is left behind.
TEST_F(Sharing, FileHeldWithoutDeleteSharingIsNotReplaced)
{
#if !defined(_WIN32)
    GTEST_SKIP() << "only Windows refuses to rename over or away an open file";
#else
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    {
        std::ifstream holder(path, std::ios::binary);  // shares reading and writing only
        ASSERT_TRUE(holder.is_open());
        nffr::FileWriter w = SmallFile();
        w.SetStamp("run 2");
        std::string error;
        EXPECT_FALSE(w.Write(path, &error));
        EXPECT_EQ("cannot replace \"" + path + "\": Permission denied", error);
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ((std::vector<std::string>{"small.fsdb"}), names);
    EXPECT_EQ(0, r->NeedsReopen(nullptr));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Image(SmallFile()), std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
    r->Close();
#endif
}

TEST_F(Sharing, RemovedFileStillFindsItsLiveObject)
{
    if (UnderWine())
        GTEST_SKIP() << "Wine still opens a deleted file by its name while a handle holds it; "
                        "Windows refuses a file whose deletion is pending";
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    std::filesystem::remove(path);
    ffrObject* probe = Open(dir_.File("./small.fsdb"));  // balances the holder's uses
    EXPECT_EQ(r, probe);
    EXPECT_NE(0, r->NeedsReopen(nullptr));
    r->Close();
    r->Close();
    EXPECT_EQ(nullptr, Open(path));  // no live object any more: refused
    EXPECT_EQ(1u, Sinks::Errors().size());
    EXPECT_TRUE(Violations::Seen().empty());
}

TEST_F(Sharing, MisuseIsReportedAsViolations)
{
    if (!nffr::testhooks::ContractChecksEnabled())
        GTEST_SKIP() << "built without checks";
    std::string path = Write(SmallFile(), dir_.File("small.fsdb"));
    ffrObject* r = Open(path);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(1, 0, 0);
    r->LoadListedSignals();
    ffrVCTraverser* t = r->CreateTraverser(1);
    ASSERT_NE(nullptr, t);
    t->FreeTraverser();
    TimeTag tag;
    unsigned char* value = nullptr;
    EXPECT_NE(0, t->GetTag(&tag));
    EXPECT_NE(0, t->GetValue(&value));
    t->FreeTraverser();
    EXPECT_EQ(3, nffr::testhooks::ViolationCount());
    EXPECT_NE(std::string::npos, nffr::testhooks::LastViolation().find("after FreeTraverser"));

    r->Close();
    r->Close();  // beyond its uses
    char stamp[2048];
    EXPECT_EQ(0, r->HasStamp());
    EXPECT_NE(0, r->GetStamp(stamp));
    EXPECT_EQ(nullptr, r->CreateTraverser(1));
    EXPECT_EQ(-1, r->GetChangeCount(1));
    EXPECT_EQ(8, nffr::testhooks::ViolationCount());
    EXPECT_NE(std::string::npos, nffr::testhooks::LastViolation().find("closed"));
}

TEST_F(Sharing, NextObjectCanTakeTheDeadAddress)
{
    if (!nffr::testhooks::ContractChecksEnabled())
        GTEST_SKIP() << "built without checks";
    std::string one = Write(SmallFile(), dir_.File("one.fsdb"));
    std::string two = Write(SmallFile(), dir_.File("two.fsdb"));
    ffrObject* a = Open(one);
    ASSERT_NE(nullptr, a);
    a->Close();
    nffr::testhooks::ReuseDeadAddressForNextObject(true);
    ffrObject* b = Open(two);
    EXPECT_EQ(a, b);
    EXPECT_EQ(0, b->HasStamp() - 1);  // a live object again
    b->Close();
    ffrObject* c = Open(one);  // the request holds for one object only
    EXPECT_NE(b, c);
    c->Close();
    EXPECT_TRUE(Violations::Seen().empty());
}

}  // namespace
