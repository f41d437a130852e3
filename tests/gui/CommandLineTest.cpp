// The window's own command line: what it reads, and the built program run as a
// process without a display.

#include "tests/gui/WaitUntil.h"
#include "tests/support/QtPrinters.h"
#include "window/WindowCommandLine.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using Action = WindowCommandLine::Action;

struct LineCase {
    const char* name;
    QStringList arguments; // after the program's name
    Action action;
    QStringList addresses;
    QString text; // the start of the text printed
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowCommandLineRead : public ::testing::TestWithParam<LineCase> {};

TEST_P(WindowCommandLineRead, TellsWhatToDo) {
    const LineCase& c = GetParam();
    const WindowCommandLine line =
        ReadWindowCommandLine(QStringList{QStringLiteral("orvelle")} + c.arguments);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.addresses, c.addresses);
    EXPECT_TRUE(line.text.startsWith(c.text)) << line.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WindowCommandLineRead,
    ::testing::Values(
        LineCase{"Nothing", {}, Action::Open, {}, {}},
        LineCase{"Addresses",
                 {"www.example.com", "https://a.example/x?y"},
                 Action::Open,
                 {"www.example.com", "https://a.example/x?y"},
                 {}},
        // Qt's options, and the values of those that take one, are Qt's alone.
        LineCase{"QtOptionsAreLeftToQt",
                 {"-platform", "offscreen", "a.example", "-style", "fusion", "--style=Windows",
                  "-reverse", "-qwindowtitle", "-b.example", "c.example"},
                 Action::Open,
                 {"a.example", "c.example"},
                 {}},
        LineCase{"AfterTwoDashesEverythingIsAnAddress",
                 {"--", "--help", "-x"},
                 Action::Open,
                 {"--help", "-x"},
                 {}},
        LineCase{"HelpComesFirst",
                 {"--help", "--bogus"},
                 Action::Help,
                 {},
                 "Usage: orvelle [OPTION...] [ADDRESS...]\n"},
        LineCase{"ShortHelp", {"-h"}, Action::Help, {}, "Usage: orvelle"},
        LineCase{"Version", {"--version"}, Action::Version, {}, "orvelle " ORVELLE_VERSION "\n"},
        LineCase{"UnknownOption",
                 {"a.example", "--same-site"},
                 Action::Error,
                 {},
                 "orvelle: unknown option '--same-site'\nTry 'orvelle --help'"},
        LineCase{"QtOptionWithoutItsValue",
                 {"-style"},
                 Action::Error,
                 {},
                 "orvelle: option '-style' needs a value\n"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// The program itself, with no display to reach: neither DISPLAY nor
// WAYLAND_DISPLAY, and no platform named in the environment.
class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        program.setProcessEnvironment(environment);
        program.setProgram(QStringLiteral(ORVELLE_PATH));
    }
    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }
    // Runs the program to its end; false when it does not end within 10 s.
    bool run(const QStringList& arguments) {
        program.setArguments(arguments);
        program.start();
        return program.waitForFinished(10000);
    }

    QTemporaryDir runtime;
    QProcess program;
};

TEST_F(WindowProgram, HelpAndVersionNeedNoDisplay) {
    ASSERT_TRUE(run({QStringLiteral("--help")}));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray help = program.readAllStandardOutput();
    EXPECT_TRUE(help.startsWith("Usage: orvelle [OPTION...] [ADDRESS...]\n")) << help.constData();
    EXPECT_TRUE(help.contains("-platform NAME"));
    EXPECT_EQ(program.readAllStandardError(), QByteArray());

    ASSERT_TRUE(run({QStringLiteral("--version")}));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray("orvelle " ORVELLE_VERSION "\n"));
}

TEST_F(WindowProgram, AnUnknownOptionExitsTwoWithAMessage) {
    ASSERT_TRUE(run({QStringLiteral("www.example.com"), QStringLiteral("--depth")}));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray());
    EXPECT_EQ(program.readAllStandardError(),
              QByteArray("orvelle: unknown option '--depth'\n"
                         "Try 'orvelle --help' for more information.\n"));
}

// -platform reaches Qt: without it there is no display here to open the window on.
TEST_F(WindowProgram, QtsOwnArgumentsStillWork) {
    program.setArguments({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                          QStringLiteral("-style"), QStringLiteral("fusion"),
                          QStringLiteral("www.example.com")});
    program.start();
    ASSERT_TRUE(program.waitForStarted(5000));
    // Up and waiting for the person: it has not ended by itself.
    EXPECT_FALSE(program.waitForFinished(300)) << program.readAllStandardError().constData();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

} // namespace
