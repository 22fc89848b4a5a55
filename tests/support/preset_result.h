// preset_result.h: a query result as the host hands it over, preset so that a handler that
// leaves it alone can be told from one that initialises or answers it.
#ifndef QUORVEL_TEST_PRESET_RESULT_H
#define QUORVEL_TEST_PRESET_RESULT_H

#include <ostream>
#include <string>

#include "pf_format.h"

namespace quorveltest {

// What a fresh result holds before a handler runs; handlers only ever write PF_ANSWER_KIND.
constexpr int kUnsetKind = -5;
constexpr int kHostWord = 11;
constexpr const char* kUntouched = "untouched";

// One call of a query handler: its result code, the answer text, and whether it set the kind.
struct Answer {
    int code;
    std::string text;
    bool kindSet;
};

bool operator==(const Answer& a, const Answer& b);
std::ostream& operator<<(std::ostream& out, const Answer& a);

class PresetResult {
public:
    PresetResult();
    ~PresetResult();
    PresetResult(const PresetResult&) = delete;
    PresetResult& operator=(const PresetResult&) = delete;

    QueryResult* get() { return &result_; }
    std::string Text() const { return Tcl_DStringValue(&result_.text); }
    int Kind() const { return result_.answerKind; }
    // The handler's answer; also checks that the host's word is untouched and the kind is
    // either unset or PF_ANSWER_KIND.
    Answer Take(int code);

private:
    QueryResult result_;
};

}  // namespace quorveltest

#endif
