// A small test runner for the Windows side under Wine: cases register themselves,
// run in order, and a closing line "N passed, M failed" sums them up. The process
// exits non-zero when any case failed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace wintest {

struct Case
{
    const char *name;
    void (*run)();
};

inline std::vector<Case> &cases()
{
    static std::vector<Case> all;
    return all;
}

// Failures of the case that runs now.
inline int &currentFailures()
{
    static int failures = 0;
    return failures;
}

struct Registration
{
    Registration(const char *name, void (*run)()) { cases().push_back({name, run}); }
};

inline void fail(const char *file, int line, const std::string &what)
{
    std::printf("    %s:%d: %s\n", file, line, what.c_str());
    ++currentFailures();
}

inline int runAll()
{
    int passed = 0;
    int failed = 0;
    for (const Case &c : cases()) {
        currentFailures() = 0;
        std::printf("RUN  %s\n", c.name);
        std::fflush(stdout);
        c.run();
        if (currentFailures() == 0) {
            ++passed;
            std::printf("PASS %s\n", c.name);
        } else {
            ++failed;
            std::printf("FAIL %s\n", c.name);
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

} // namespace wintest

#define WINTEST_CONCAT2(a, b) a##b
#define WINTEST_CONCAT(a, b) WINTEST_CONCAT2(a, b)

#define TEST_CASE(name)                                                                        \
    static void WINTEST_CONCAT(testCase, __LINE__)();                                          \
    static const wintest::Registration WINTEST_CONCAT(registration, __LINE__)(                 \
        name, &WINTEST_CONCAT(testCase, __LINE__));                                            \
    static void WINTEST_CONCAT(testCase, __LINE__)()

// Records a failure and leaves the case when the condition does not hold.
#define REQUIRE(condition)                                                                     \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            wintest::fail(__FILE__, __LINE__, "failed: " #condition);                          \
            return;                                                                            \
        }                                                                                      \
    } while (false)

// Records a failure and goes on.
#define CHECK(condition)                                                                       \
    do {                                                                                       \
        if (!(condition))                                                                      \
            wintest::fail(__FILE__, __LINE__, "failed: " #condition);                          \
    } while (false)

// Compares two UTF-16 texts and shows both when they differ.
#define CHECK_TEXT(actual, expected)                                                           \
    do {                                                                                       \
        const std::u16string wintestActual = (actual);                                         \
        const std::u16string wintestExpected = (expected);                                     \
        if (wintestActual != wintestExpected)                                                  \
            wintest::fail(__FILE__, __LINE__,                                                  \
                          "texts differ: " #actual "\n      actual:   [" + wintest::utf8(wintestActual) \
                              + "]\n      expected: [" + wintest::utf8(wintestExpected) + "]"); \
    } while (false)

namespace wintest {

// UTF-8 for messages; Latin and ASCII are all the tests show.
inline std::string utf8(const std::u16string &text)
{
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace wintest
