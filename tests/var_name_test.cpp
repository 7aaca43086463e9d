// The names proposed from file names, and the names the calculator accepts, worked out by hand
// from its character set (à is byte E0, α 80, π 8C, Σ 8E, σ 8F).
#include "core/var_name.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

struct Proposal {
    std::string_view file_name, name;
    bool ascii = false;
    std::string_view passed_over = "";
};

constexpr Proposal kProposals[] = {
    {"Physics Formulas.txt", "physics"},            // lower-case, cut at 8, no _ at the end
    {"notes.txt", "notes"},
    {"my notes.txt", "my_notes"},                   // a space as _
    {"a -- b.txt", "a_b"},                          // a run of others as one _
    {"2024-notes.txt", "notes"},                    // nothing before the first letter
    {"_ab.txt", "ab"},
    {"chapter10.txt", "chapte10"},                  // closing digits kept
    {"chapter9.txt", "chapter9"},
    {"unit 12345.txt", "unit_123"},                 // more than 4 closing digits: cut at the end
    {"2024.txt", "t2024"},                          // no letter: t and the digits
    {"123456789.txt", "t1234567"},
    {"!!!.txt", "text1"},                           // nothing usable (text is a command)
    {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "text1"},      // 日本: letters the calculator lacks
    {".txt", "txt"},                                // a dot opening the name: no dot to cut at
    {"", "text1"},
    {"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9"},  // Été: É lower-case is é
    {"e\xCC\x81t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9"},   // é as e and a combining acute
    // 9 × É: 8 × é, 16 bytes
    {"\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89.txt",
     "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
    {"\xC5\x98\x65ka.txt", "reka"},                 // Řeka: a letter it lacks as the closest
    {"Stra\xC3\x9F\x65.txt", "stra\xC3\x9F\x65"},   // Straße: ß kept
    {"\xCE\xA3\xCE\xA9.txt", "\xCF\x83\xCF\x89"},     // ΣΩ: the calculator's capitals as σω
    {"\xCE\x91\xCE\xB2.txt", "\xCE\xB1\xCE\xB2"},   // Αβ: Greek Alpha as α
    {"\xCF\x80" "d.txt", "d"},                      // πd: π is no letter of a name
    {"dir/sub.d/file.name.txt", "file_nam"},        // the last part; its last dot ends the stem
    {"C:\\work\\Okay.txt", "okay"},
    {"ab\xFF\x63\x64.txt", "ab_cd"},                // malformed UTF-8 as a gap
    // For a name stored as its bytes: ASCII letters alone.
    {"\xC3\x89t\xC3\xA9.txt", "ete", true},
    {"\xC3\x86sop \xC3\xBE\xC3\xBF.txt", "aesop_th", true},  // Æsop þÿ: two letters for æ, þ
    {"Stra\xC3\x9F\x65.txt", "strasse", true},
    {"\xCE\xB1\xCE\xB2 k.txt", "k", true},            // αβ k: Greek letters are none
    {"\xCE\xB1\xCE\xB2.txt", "text1", true},
    // Names the calculator keeps for itself passed over, a number added.
    {"sin.txt", "sin1", false, "sin"},
    {"ZoomTrig.txt", "zoomtri1", false, "zoomtrig"},   // cut before the number
    {"y.txt", "y100", false, "y"},                      // y1 to y99 kept too
    {"seed.txt", "seed3", false, "seed"},               // seed1, seed2: its parts would be
    {"\xCE\x98min.txt", "\xCE\xB8min1", false, "\xCE\xB8min"},  // Θmin as θmin
};

TEST(VarName, Proposed)
{
    for (const Proposal& p : kProposals) {
        char name[kVarNameSize], passed_over[kVarNameSize] = "?";
        ProposeVarName(p.file_name, name, p.ascii, passed_over);
        EXPECT_EQ(std::string_view(name), p.name) << p.file_name;
        EXPECT_EQ(std::string_view(passed_over), p.passed_over) << p.file_name;
        EXPECT_EQ(VarNameProblem(name), nullptr) << name;
    }
}

struct Check {
    std::string_view name;
    bool accepted;
};

constexpr Check kChecks[] = {
    {"physics", true},
    {"a1_2", true},
    {"abcdefgh", true},
    {"\xCE\xB1\xCF\x89\xC3\xA0\xC3\xBF\xC3\x9F", true},  // αωàÿß
    {"", false},
    {"abcdefghi", false},                    // 9 characters
    {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", true},  // 8 × é: 16 bytes
    {"1abc", false},
    {"_abc", false},
    {"Abc", false},
    {"a bc", false},
    {"a.b", false},
    {"a/b", false},
    {"\xCF\x80", false},                     // π
    {"a\xCF\x80", false},
    {"\xCE\xA3", false},                     // Σ, upper-case
    {"a\xC3\xB7", false},                    // ÷
    {"a\xC3\x89", false},                    // É
    {"a\xFF", false},                        // malformed UTF-8
    {"sin", false},                          // the calculator's own
    {"y99", false},
    {"y100", true},
};

TEST(VarName, Accepted)
{
    for (const Check& c : kChecks)
        EXPECT_EQ(VarNameProblem(c.name) == nullptr, c.accepted) << c.name;
}

} // namespace
