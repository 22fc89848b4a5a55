// info_sinks_test.cpp: the info handler's options and the exact output of the reader
// library's message sinks.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "base/sinks.h"
#include "plugin/quorvel.h"
#include "preset_result.h"
#include "stderr_capture.h"

namespace {

using quorveltest::kHostWord;
using quorveltest::kUnsetKind;
using quorveltest::kUntouched;
using quorveltest::PresetResult;

TEST(InfoHandler, AnswersEveryOptionStartingWithMinusLowerA)
{
    for (const char* option : {"-author", "-a", "-ab", "-anything else"}) {
        SCOPED_TRACE(option);
        PresetResult result;
        Tcl_DStringFree(&result.get()->text);  // the host hands over an empty string
        EXPECT_EQ(0, Quorvel_Info(nullptr, option, result.get()));
        EXPECT_EQ("Quorvel", result.Text());
        EXPECT_EQ(7, result.Kind());
        EXPECT_EQ(kHostWord, result.get()->hostWord);
    }
}

TEST(InfoHandler, RefusesOtherOptionsAndLeavesTheResultAlone)
{
    for (const char* option : {"-", "", "-A", "a-", "--author", "author"}) {
        SCOPED_TRACE(std::string("option \"") + option + "\"");
        PresetResult result;
        EXPECT_EQ(1, Quorvel_Info(nullptr, option, result.get()));
        EXPECT_EQ(kUntouched, result.Text());
        EXPECT_EQ(kUnsetKind, result.Kind());
        EXPECT_EQ(kHostWord, result.get()->hostWord);
    }
}

TEST(InfoHandler, RefusesNullArguments)
{
    PresetResult result;
    EXPECT_EQ(1, Quorvel_Info(nullptr, nullptr, result.get()));
    EXPECT_EQ(kUntouched, result.Text());
    EXPECT_EQ(1, Quorvel_Info(nullptr, "-author", nullptr));
}

TEST(MessageSinks, WriteTheQuotedWordABlankAndTheTextAsReceived)
{
    StderrCapture capture;
    EXPECT_EQ(0, WarnSink("disk almost full\n"));
    EXPECT_EQ(0, ErrorSink("bad block 7\n"));
    EXPECT_EQ(0, InfoSink("3 signals\n"));
    EXPECT_EQ("\"WARN:\" disk almost full\n\"ERROR:\" bad block 7\n\"INFO:\" 3 signals\n",
              capture.Finish());
}

TEST(MessageSinks, AddNoNewlineOfTheirOwn)
{
    StderrCapture capture;
    WarnSink("open line");
    fprintf(stderr, "|next");
    InfoSink("");
    EXPECT_EQ("\"WARN:\" open line|next\"INFO:\" ", capture.Finish());
}

TEST(MessageSinks, TakeTheTextLiterallyNeverAsAFormat)
{
    StderrCapture capture;
    ErrorSink("100%s %d%% done\n");
    WarnSink(nullptr);
    EXPECT_EQ("\"ERROR:\" 100%s %d%% done\n\"WARN:\" ", capture.Finish());
}

}  // namespace
