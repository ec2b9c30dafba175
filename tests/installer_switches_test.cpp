// The installer's switches: case, both prefixes, values, what is ignored, what is malformed.
#include <gtest/gtest.h>

#include "install/installer_switches.h"

using install::InstallerSwitches;

namespace {

InstallerSwitches parsed(std::vector<std::string> args) {
    InstallerSwitches s;
    Result r = install::parse_installer_switches(args, &s);
    EXPECT_FALSE(r.failed()) << r.problem;
    return s;
}

TEST(InstallerSwitches, AreReadWithEitherPrefixInAnyCaseAndOthersAreIgnored) {
    InstallerSwitches s = parsed({"/d=C:\\Games\\Dravo 2", "-s", "/Log=out.log", "extra", "/X", "--verbose"});
    EXPECT_EQ(s.game_dir, "C:\\Games\\Dravo 2");
    EXPECT_TRUE(s.silent);
    EXPECT_EQ(s.log_file, "out.log");
    EXPECT_FALSE(s.undo);
    EXPECT_FALSE(s.help);

    s = parsed({"/UNDO=12", "-?"});
    EXPECT_TRUE(s.undo);
    EXPECT_EQ(s.undo_number, 12);
    EXPECT_TRUE(s.help);
    s = parsed({"-undo"});
    EXPECT_TRUE(s.undo);
    EXPECT_EQ(s.undo_number, 0);
    EXPECT_EQ(parsed({}).game_dir, "");
}

TEST(InstallerSwitches, AMalformedSwitchIsAUsageErrorNamingIt) {
    for (const char* bad : {"/D=", "/D", "-LOG=", "/log", "/S=1", "/?=x", "/UNDO=", "/UNDO=0", "/undo=-1", "/UNDO=2x",
                            "/UNDO=+3"}) {
        InstallerSwitches s;
        Result r = install::parse_installer_switches({"/S", bad}, &s);
        EXPECT_TRUE(r.failed()) << bad;
        EXPECT_EQ(r.problem.rfind(std::string(bad) + ": ", 0), 0u) << r.problem;
    }
}

}  // namespace
