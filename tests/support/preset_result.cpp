// preset_result.cpp: the preset query result of the handler tests.
#include "preset_result.h"

#include <gtest/gtest.h>

namespace quorveltest {

bool operator==(const Answer& a, const Answer& b)
{
    return a.code == b.code && a.text == b.text && a.kindSet == b.kindSet;
}

std::ostream& operator<<(std::ostream& out, const Answer& a)
{
    return out << "{code " << a.code << ", \"" << a.text << "\", kind "
               << (a.kindSet ? "set" : "unset") << "}";
}

PresetResult::PresetResult()
{
    Tcl_DStringInit(&result_.text);
    Tcl_DStringAppend(&result_.text, kUntouched, -1);
    result_.hostWord = kHostWord;
    result_.answerKind = kUnsetKind;
}

PresetResult::~PresetResult()
{
    Tcl_DStringFree(&result_.text);
}

Answer PresetResult::Take(int code)
{
    EXPECT_TRUE(result_.answerKind == PF_ANSWER_KIND || result_.answerKind == kUnsetKind)
        << "answer kind " << result_.answerKind;
    EXPECT_EQ(result_.hostWord, kHostWord) << "the host's word was written";
    return Answer{code, Text(), result_.answerKind == PF_ANSWER_KIND};
}

}  // namespace quorveltest
