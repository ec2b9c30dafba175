// A small game and a patch that does all three kinds of work on it (a container member, the
// tables compiled from a new source, one message updated in place), for the tests that run a
// whole install: with a failure at each step, and with a power cut at each step.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "install/main_flow.h"
#include "install/patch_sources.h"
#include "messages/message_compiler.h"
#include "payload/digest_area.h"
#include "payload/stamp.h"
#include "tests/container_builder.h"
#include "tests/payload_test_support.h"

namespace testing_support {

class SilentFace : public install::InstallerFace {
public:
    void show_phase(install::Phase) override {}
    bool confirm() override { return true; }
    void final_message(const std::string&, const std::string&) override {}
    void notice(const std::string&) override {}
};

// A record of multigen.dat: the member's name and its container.
inline std::string file_table_record(const std::string& name, const std::string& container) {
    std::string r(42, '\0');
    std::memcpy(r.data(), name.data(), name.size());
    std::memcpy(r.data() + 20, container.data(), container.size());
    return r;
}

inline std::string compiled_table(const std::string& source, bool index) {
    messages::MemoryTables t = messages::compile_in_memory(source);
    const std::vector<std::uint8_t>& bytes = index ? t.dat : t.str;
    return std::string(bytes.begin(), bytes.end());
}

inline const char kSmallGameMessages[] =
    "#1 0 0 0 0 40 2 0\nWelcome to Dravo, traveller.\n#2 0 0 0 0 40 2 0\nGold is scarce in the north.\n#0\n";

// The game's files by name.
inline std::map<std::string, std::string> small_game() {
    return {
        {"Dravo.ini", "[path]\nhero                hd:\nworld               hd:\n"},
        {"multigen.dat", file_table_record("hero", "dravo.mul") + file_table_record("world", "dravo.mul")},
        {"dravo.mul", make_container({{"hero", "HERO v1"}, {"world", pattern(30000)}})},
        {"message.dat", compiled_table(kSmallGameMessages, true)},
        {"message.str", compiled_table(kSmallGameMessages, false)},
    };
}

inline std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

// The patch, stamped into a copy of the template's region, with its digest area.
struct SmallPatch {
    std::vector<std::uint8_t> region = template_region();
    std::vector<std::uint8_t> digest_area = template_digest_area();

    SmallPatch() {
        std::vector<payload::PackFile> files = {
            {"patch.ini",
             bytes_of("[work]\n0 newhero.bin hero\n1 msgnew.txt #1 Welcome\n2 2:Gold:#2 0 0 0 0 40 2 0\n"
                      "Gold is fair now.\n#\n")},
            {"patch.dat", {}},
            {"newhero.bin", bytes_of("HERO v2, with a lantern")},
            {"msgnew.txt", bytes_of("#1 0 0 0 0 40 2 0\nWelcome back.\n#2 0 0 0 0 40 2 0\nGold is scarce.\n#0\n")},
        };
        stamped = !payload::stamp_region(region, files).failed() && !payload::stamp_digest(digest_area, region).failed();
    }
    bool stamped = false;

    // Installs the patch into `game_dir` (ending with a backslash), the user saying yes.
    install::InstallResult install_into(const std::string& game_dir) const {
        SilentFace face;
        std::vector<std::uint8_t> copy = region;  // extraction unscrambles the region in place
        return install::run_installation(face, install::patch_sources_for(game_dir, {copy, digest_area}));
    }
};

}  // namespace testing_support
