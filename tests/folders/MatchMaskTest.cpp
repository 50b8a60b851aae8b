#include "folders/FileSystem.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using kelvane::folders::MatchMask;

namespace {

struct MaskCase
{
    const char *mask;
    const char *name;
    bool matches;
};

TEST(MatchMask, Table)
{
    const MaskCase cases[] = {
        // "*.*" takes every name, with or without a dot.
        {"*.*", "README", true},
        {"*.*", "take1.avi", true},
        {"*.*", "a.b.c", true},
        {"*.*", ".", true},
        {"*.*", "..", true},
        {"*.*", ".hidden", true},
        {"*", "x", true},
        // A final ".*" also means "no extension", but only for names without any dot.
        {"take1.*", "take1", true},
        {"take1.*", "take1.avi", true},
        {"take1.*", "take10", false},
        {"?.*", ".", false},
        {"a?.*", "a.", false},
        // Other dots are literal: "*." wants a name ending in a dot.
        {"*.", "abc", false},
        {"*.", "abc.", true},
        {"*.txt", "a.txt", true},
        {"*.txt", ".txt", true},
        {"*.txt", "a.txt.bak", false},
#ifdef _WIN32 // letter case is folded there, as Windows' own search does
        {"*.txt", "a.TXT", true},
        {"Clip*", "clip.avi", true},
#else
        {"*.txt", "a.TXT", false},
        {"Clip*", "clip.avi", false},
#endif
        {"a*b", "ab", true},
        {"a*b", "axxb", true},
        {"a*b", "axxbc", false},
        {"a*b*c", "abbbcbc", true},
        {"*ab", "aab", true},
        {"**a**", "bab", true},
        // "?" is exactly one character.
        {"?", "", false},
        {"?", "a", true},
        {"?", "ab", false},
        {"??", "a", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        // An empty mask matches nothing.
        {"", "", false},
        {"", "a", false},
        {"*", "", true},
        // Characters that are special elsewhere are literal here.
        {"a\\b", "a\\b", true},
        {"[ab]", "a", false},
        {"[ab]", "[ab]", true},
    };
    for (const MaskCase &c : cases)
        EXPECT_EQ(MatchMask(c.mask, c.name), c.matches)
            << "mask \"" << c.mask << "\" name \"" << c.name << "\"";
}

TEST(MatchMask, QuestionMarkTakesOneUtf8Character)
{
    const std::string e = "\xC3\xA9"; // é, two bytes
    const std::string snowman = "\xE2\x98\x83"; // three bytes
    const std::string emoji = "\xF0\x9F\x98\x80"; // four bytes
    EXPECT_TRUE(MatchMask("?.txt", e + ".txt"));
    EXPECT_FALSE(MatchMask("??.txt", e + ".txt"));
    EXPECT_TRUE(MatchMask("?", snowman));
    EXPECT_TRUE(MatchMask("?", emoji));
    EXPECT_TRUE(MatchMask("a?b", "a" + emoji + "b"));
    EXPECT_TRUE(MatchMask("*?", e));
    EXPECT_FALSE(MatchMask("*??", e));
    EXPECT_TRUE(MatchMask("*?x", emoji + "x"));
    EXPECT_FALSE(MatchMask("*??x", emoji + "x"));
    EXPECT_TRUE(MatchMask(e + "t" + e, e + "t" + e));
    EXPECT_TRUE(MatchMask(e + "*", e + "t" + e));
    EXPECT_FALSE(MatchMask("E*", e + "t"));
    // Bytes that are not well-formed UTF-8 count one each.
    EXPECT_TRUE(MatchMask("?", "\xC3"));
    EXPECT_TRUE(MatchMask("??", "\xC3("));
    EXPECT_TRUE(MatchMask("??", "\xE9t")); // Latin-1 "ét"
    EXPECT_TRUE(MatchMask("???", "\xED\xA0\x80")); // an encoded surrogate
    EXPECT_FALSE(MatchMask("?", "\xED\xA0\x80"));
    EXPECT_TRUE(MatchMask("???", "\xC0\x80x")); // overlong form
}

TEST(MatchMask, StarGoesOnFromInsideACharacterAMaskByteEndedIn)
{
    // Name: a lone C3, then the character C3 82. Taking the first C3 with the mask's C3
    // leaves the second star at the character, which it can only step over whole; the
    // match needs the first star to take the lone C3, so that the mask's C3 and 82 take
    // the character's two bytes.
    EXPECT_TRUE(MatchMask("*\xC3*\x82", "\xC3\xC3\x82"));
    EXPECT_TRUE(MatchMask("*\xC3\x82", "\xC3\xC3\x82"));
    // From a whole character's start, "*" and "?" never split it...
    EXPECT_FALSE(MatchMask("*\x82", "\xC3\x82"));
    EXPECT_FALSE(MatchMask("?\x82", "\xC3\x82"));
    // ...but once a mask byte took its first byte, the rest counts byte by byte.
    EXPECT_TRUE(MatchMask("\xC3?", "\xC3\x82"));
    EXPECT_TRUE(MatchMask("\xC3*\x82", "\xC3\x82"));
    EXPECT_FALSE(MatchMask("\xC3??", "\xC3\x82"));
}

TEST(MatchMask, ManyStarsAgainstALongNameFinish)
{
    const std::string longName = std::string(254, 'a') + "x";
    EXPECT_TRUE(MatchMask(std::string(10000, '*') + "x", longName));
    EXPECT_FALSE(MatchMask(std::string(10000, '*') + "y", longName));

    std::string starA; // "*a*a*a...*b": the worst case of the two-pointer match
    for (int i = 0; i < 5000; ++i)
        starA += "*a";
    EXPECT_FALSE(MatchMask(starA + "*b", std::string(255, 'a')));
    EXPECT_TRUE(MatchMask(starA.substr(0, 2 * 100) + "*", std::string(255, 'a')));
    EXPECT_FALSE(MatchMask(starA.substr(0, 2 * 256) + "*", std::string(255, 'a')));

    std::string starQuestion; // "*?*?...": needs as many characters as there are "?"
    for (int i = 0; i < 255; ++i)
        starQuestion += "*?";
    EXPECT_TRUE(MatchMask(starQuestion, std::string(255, 'a')));
    EXPECT_FALSE(MatchMask(starQuestion + "?", std::string(255, 'a')));
}

// Straightforward dynamic programming over single-byte characters, as a reference for the
// two-pointer match.
bool ReferenceWildcards(const std::string &mask, const std::string &name)
{
    std::vector<std::vector<bool>> can(mask.size() + 1, std::vector<bool>(name.size() + 1));
    can[mask.size()][name.size()] = true;
    for (std::size_t m = mask.size(); m-- > 0;) {
        for (std::size_t n = name.size() + 1; n-- > 0;) {
            if (mask[m] == '*')
                can[m][n] = can[m + 1][n] || (n < name.size() && can[m][n + 1]);
            else if (n < name.size() && (mask[m] == '?' || mask[m] == name[n]))
                can[m][n] = can[m + 1][n + 1];
        }
    }
    return can[0][0];
}

bool Reference(const std::string &mask, const std::string &name)
{
    if (mask.empty())
        return false;
    if (ReferenceWildcards(mask, name))
        return true;
    const bool anyExtension = mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0;
    return anyExtension && name.find('.') == std::string::npos
        && ReferenceWildcards(mask.substr(0, mask.size() - 2), name);
}

TEST(MatchMask, AgreesWithAReferenceOnRandomCases)
{
    std::mt19937 random(20040315);
    const std::string maskAlphabet = "ab.*?";
    const std::string nameAlphabet = "ab.";
    auto make = [&random](const std::string &alphabet, std::size_t minLength,
                          std::size_t maxLength) {
        std::string text(std::uniform_int_distribution<std::size_t>(minLength, maxLength)(random),
                         ' ');
        for (char &c : text)
            c = alphabet[std::uniform_int_distribution<std::size_t>(0,
                                                                    alphabet.size() - 1)(random)];
        return text;
    };
    int matched = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string mask = make(maskAlphabet, 0, 7);
        const std::string name = make(nameAlphabet, 1, 9);
        const bool expected = Reference(mask, name);
        matched += expected;
        ASSERT_EQ(MatchMask(mask, name), expected)
            << "mask \"" << mask << "\" name \"" << name << "\"";
    }
    // The sample must exercise both outcomes to mean anything.
    EXPECT_GT(matched, 1000);
    EXPECT_LT(matched, 29000);
}

} // namespace
