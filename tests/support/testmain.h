// Entry points for the test executables. Before the application object exists,
// HOME and the XDG folders are pointed at a fresh temporary folder, so that no
// test reads or writes the real user's files; it is removed when the test ends.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

namespace tests {

// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_STATE_HOME and
// XDG_RUNTIME_DIR at folders under a new private temporary folder; returns it. The
// machine's proxy variables are dropped too, so the loopback selector is reached
// directly unless a test sets a proxy itself.
QString isolateHome();

} // namespace tests

#define TESSARINO_TEST_MAIN(TestClass)                                                        \
    int main(int argc, char *argv[])                                                          \
    {                                                                                          \
        tests::isolateHome();                                                                  \
        QCoreApplication app(argc, argv);                                                      \
        TestClass tc;                                                                          \
        QTEST_SET_MAIN_SOURCE_PATH                                                             \
        return QTest::qExec(&tc, argc, argv);                                                  \
    }

#define TESSARINO_GUI_TEST_MAIN(TestClass)                                                    \
    int main(int argc, char *argv[])                                                          \
    {                                                                                          \
        tests::isolateHome();                                                                  \
        QApplication app(argc, argv);                                                          \
        TestClass tc;                                                                          \
        QTEST_SET_MAIN_SOURCE_PATH                                                             \
        return QTest::qExec(&tc, argc, argv);                                                  \
    }
