// options_test.cpp: the option tables of the two query handlers: each option is selected by
// its least text and not by one character less, and docs/host.md gives that least text.
#include "query/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string HostDocSection(const std::string& heading)
{
    std::ifstream file(QUORVEL_DOCS_DIR "/host.md");
    std::stringstream text;
    text << file.rdbuf();
    std::string doc = text.str();
    size_t start = doc.find("\n### " + heading);
    EXPECT_NE(start, std::string::npos) << heading;
    if (start == std::string::npos) {
        return "";
    }
    size_t end = doc.find("\n#", start + 1);
    return doc.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The "Least text" cell of the documented row of option, or "" when there is none.
std::string DocumentedLeastText(const std::string& section, const std::string& option)
{
    size_t row = section.find("\n| `" + option);
    if (row == std::string::npos) {
        return "";
    }
    size_t cell = section.find("| `", row + 4);
    size_t end = section.find_first_of("` ", cell + 3);
    return cell == std::string::npos ? "" : section.substr(cell + 3, end - cell - 3);
}

void CheckTable(const QueryOption* table, size_t count, const std::string& heading)
{
    std::string section = HostDocSection(heading);
    for (size_t i = 0; i < count; i++) {
        const QueryOption& row = table[i];
        SCOPED_TRACE(row.name);
        std::string name = row.name;
        std::string least = name.substr(0, row.compared);
        EXPECT_EQ(row.second, name[1]);
        EXPECT_EQ(FindQueryOption(table, count, row.name), &row);
        EXPECT_EQ(FindQueryOption(table, count, least.c_str()), &row);
        std::string shorter = least.substr(0, least.size() - 1);
        EXPECT_NE(FindQueryOption(table, count, shorter.c_str()), &row) << shorter;
        EXPECT_EQ(DocumentedLeastText(section, name), least);
    }
}

TEST(QueryOptionTables, FileQueriesAreSelectedByTheirLeastTexts)
{
    CheckTable(kFileInfoOptions, kFileInfoOptionCount, "File queries");
}

TEST(QueryOptionTables, WaveformQueriesAreSelectedByTheirLeastTexts)
{
    CheckTable(kWaveInfoOptions, kWaveInfoOptionCount, "Waveform queries");
}

}  // namespace
