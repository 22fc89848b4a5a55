// reader_hooks_test.cpp: the test hooks: n-th call failures, forced change counts, call counts.
#include "nffr_test_util.h"

using namespace nffrtest;
using nffr::testhooks::Op;

namespace {

class Hooks : public ReaderTest {
protected:
    void SetUp() override
    {
        ReaderTest::SetUp();
        path_ = Write(SmallFile(), dir_.File("small.fsdb"));
        reader_ = ffrObject::ffrOpen2(path_.c_str(), nullptr, nullptr, 0);
        ASSERT_NE(nullptr, reader_);
        reader_->AddToLoadList(1, 0, 0);
        reader_->LoadListedSignals();
    }
    void TearDown() override
    {
        reader_->Close();
        ReaderTest::TearDown();
    }
    std::string path_;
    ffrObject* reader_ = nullptr;
};

TEST_F(Hooks, NthCallFailsOnceAndOpensFailWithoutMessages)
{
    nffr::testhooks::FailNthCall(Op::Open, 2);
    ffrObject* first = ffrObject::ffrOpen2(path_.c_str(), nullptr, nullptr, 0);
    EXPECT_EQ(reader_, first);
    EXPECT_EQ(nullptr, ffrObject::ffrOpen2(path_.c_str(), nullptr, nullptr, 0));
    ffrObject* third = ffrObject::ffrOpen2(path_.c_str(), nullptr, nullptr, 0);
    EXPECT_EQ(reader_, third);
    first->Close();
    third->Close();
    EXPECT_EQ(4, nffr::testhooks::CallCount(Op::Open));  // the fixture's open included

    nffr::testhooks::FailNthCall(Op::CreateTraverser, 1);
    EXPECT_EQ(nullptr, reader_->CreateTraverser(1));
    nffr::testhooks::FailNthCall(Op::NeedsReopen, 1);
    EXPECT_NE(0, reader_->NeedsReopen(nullptr));
    EXPECT_EQ(0, reader_->NeedsReopen(nullptr));
    nffr::testhooks::FailNthCall(Op::GetChangeCount, 1);
    EXPECT_EQ(-1, reader_->GetChangeCount(1));
    nffr::testhooks::FailNthCall(Op::GetChangeCount, 3);
    nffr::testhooks::FailNthCall(Op::GetChangeCount, 0);  // disabled again
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(3, reader_->GetChangeCount(1));
    EXPECT_TRUE(Sinks::Errors().empty());
}

TEST_F(Hooks, TraverserOperationsFail)
{
    ffrVCTraverser* t = reader_->CreateTraverser(1);
    ASSERT_NE(nullptr, t);
    TimeTag tag;
    unsigned char* value = nullptr;
    for (Op op : {Op::GetFirstTag, Op::GetLastTag, Op::GetTag, Op::GetValue, Op::GotoTag}) {
        nffr::testhooks::FailNthCall(op, 1);
        int result = op == Op::GetFirstTag  ? t->GetFirstTag(&tag)
                     : op == Op::GetLastTag ? t->GetLastTag(&tag)
                     : op == Op::GetTag     ? t->GetTag(&tag)
                     : op == Op::GetValue   ? t->GetValue(&value)
                                            : t->GotoTag(&tag, 0);
        EXPECT_NE(0, result) << static_cast<int>(op);
        EXPECT_EQ(1, nffr::testhooks::CallCount(op));
    }
    EXPECT_EQ(0, t->GetValue(&value));
    t->FreeTraverser();
    EXPECT_EQ(1, nffr::testhooks::CallCount(Op::FreeTraverser));
}

TEST_F(Hooks, ForcedChangeCountsAndCallCounts)
{
    nffr::testhooks::ForceChangeCount(0);
    EXPECT_EQ(0, reader_->GetChangeCount(1));
    nffr::testhooks::ForceChangeCount(1);
    EXPECT_EQ(1, reader_->GetChangeCount(1));
    EXPECT_EQ(-1, reader_->GetChangeCount(99));
    nffr::testhooks::ForceChangeCount(std::nullopt);
    EXPECT_EQ(3, reader_->GetChangeCount(1));

    nffr::testhooks::Reset();
    ffrVarInfo* info = nullptr;
    char stamp[2048];
    reader_->GetVarInfo(1, &info);
    reader_->IsInLoadList(1);
    reader_->AddToLoadList(2, 0, 0);
    reader_->LoadListedSignals();
    reader_->HasStamp();
    reader_->GetStamp(stamp);
    reader_->ReadSignalTree();
    for (Op op : {Op::GetVarInfo, Op::IsInLoadList, Op::AddToLoadList, Op::LoadListedSignals,
                  Op::HasStamp, Op::GetStamp, Op::ReadSignalTree})
        EXPECT_EQ(1, nffr::testhooks::CallCount(op)) << static_cast<int>(op);
    EXPECT_EQ(0, nffr::testhooks::CallCount(Op::Close));
}

}  // namespace
