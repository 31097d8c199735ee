// The program's command line: what it prints, what it starts (nothing, for
// the questions it answers itself) and its exit status, with and without a
// display.
#include <gtest/gtest.h>

#include "tests/shells/gtk/Desktop.h"
#include "tests/support/Files.h"

using kivo::test::Process;

namespace {

class CommandLine : public kivo::test::DesktopTest {
protected:
    CommandLine() { m_bTray = false; }

    struct Run {
        int status = -1;
        std::string out;
        std::string err;
    };

    // Runs the installed program to its end; `display` false: it has none.
    Run RunKivo(const std::vector<std::string>& args, bool display = true) {
        if (m_installed.empty()) m_installed = kivo::test::InstallProgram(m_program, Dir(), "kivo");
        std::vector<std::string> env = ProgramEnv();
        if (!display) env.push_back("DISPLAY=");
        const std::string errFile = Home() + "/stderr";
        std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" 2>'" + errFile + "'", m_installed};
        shell.insert(shell.end(), args.begin(), args.end());
        Process program("/bin/sh", shell, env);
        Run run;
        run.status = program.Wait(std::chrono::seconds(20));
        run.out = program.Output();
        run.err = kivo::test::ReadBytes(errFile).value_or("");
        return run;
    }

    // What shows that the program went further than its command line: the
    // trace of its start (before its first window), a request to the server.
    void ExpectNothingStarted(const Run& run, const std::string& what) {
        EXPECT_EQ(run.out.find("] start "), std::string::npos) << what << ": " << run.out;
        EXPECT_TRUE(Server().Requests().empty()) << what;
    }

    std::string m_installed;
};

}  // namespace

TEST_F(CommandLine, HelpAndVersionAnswerAtOnceWithOrWithoutADisplay) {
    for (const bool display : {true, false}) {
        const std::string where = display ? "with a display" : "without";
        const Run help = RunKivo({"--help"}, display);
        EXPECT_EQ(help.status, 0) << where;
        for (const char* option : {"--settings", "--about", "--exit", "--help", "--version"})
            EXPECT_NE(help.out.find(option), std::string::npos) << where << ": " << option;
        EXPECT_EQ(help.out.rfind("Usage: kivo", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "") << where;
        ExpectNothingStarted(help, "--help " + where);

        const Run version = RunKivo({"--settings", "--version"}, display);
        EXPECT_EQ(version.status, 0) << where;
        EXPECT_EQ(version.out, "kivo 1.7\n") << where;
        ExpectNothingStarted(version, "--version " + where);
    }
}

TEST_F(CommandLine, AWrongArgumentIsNamedWithTheUsageOnStandardErrorAndStatusTwo) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--no-such-option"}, {"-x"}, {"--about", "stray"}, {"--exit", "--exit"}, {"--settings="}}) {
        const Run run = RunKivo(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_EQ(run.out, "") << args.back();
        EXPECT_EQ(run.err.rfind("kivo: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("'" + args.back() + "'"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Usage: kivo"), std::string::npos) << run.err;
        ExpectNothingStarted(run, args.back());
    }
}

TEST_F(CommandLine, WithoutADisplayTheProgramSaysSoAndEndsWithStatusOne) {
    const Run run = RunKivo({}, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("kivo: cannot open display", 0), 0u) << run.err;
    ExpectNothingStarted(run, "no display");
}

TEST_F(CommandLine, ExitWithNoCopyRunningEndsWithoutShowingAnything) {
    const Run run = RunKivo({"--exit"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ExpectNothingStarted(run, "--exit");
    const std::string entry = Home() + "/config/autostart/kivo.desktop";
    EXPECT_FALSE(kivo::test::Exists(entry));
    // And with a copy running, it ends that one. That copy, the user's first
    // start, has set up start at login as the record's default says.
    auto first = StartKivo();
    ASSERT_TRUE(WaitForTrace(*first, "placed ")) << first->Output();
    const std::string text = kivo::test::ReadBytes(entry).value_or("");
    EXPECT_NE(text.find("Hidden=false\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Exec=\"" + Dir() + "kivo\"\n"), std::string::npos) << text;
    EXPECT_EQ(RunKivo({"--exit"}).status, 0);
    EXPECT_EQ(first->Wait(std::chrono::seconds(20)), 0) << first->Output();
}
