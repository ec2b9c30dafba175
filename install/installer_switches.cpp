#include "install/installer_switches.h"

#include <cstdlib>

#include "base/text.h"

namespace install {

const char kInstallerUsage[] =
    "DravoPatch.exe [/D=DIR] [/S] [/UNDO[=N]] [/LOG=FILE] [/?]\n"
    "\n"
    "/D=DIR     The game folder (holding Dravo.ini and multigen.dat); no search.\n"
    "/S         Silent: no window; the outcome is the exit status, messages go to standard error.\n"
    "/UNDO      Take back the newest install of the patch instead of installing.\n"
    "/UNDO=N    Take back install N, which must be the newest.\n"
    "/LOG=FILE  Also append every line of the log to FILE.\n"
    "/?         This list.\n"
    "\n"
    "Exit status: 0 done, 1 failed or the game was not found, 2 a malformed switch, 3 cancelled.";

namespace {

// "/D=DIR" -> name "d", value "DIR", has_value; "-S" -> name "s".
struct Switch {
    std::string name;
    std::string value;
    bool has_value = false;
};

bool split_switch(const std::string& arg, Switch* s) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
    std::size_t eq = arg.find('=');
    s->name = text::lowered(arg.substr(1, eq == std::string::npos ? std::string::npos : eq - 1));
    s->has_value = eq != std::string::npos;
    if (s->has_value) s->value = arg.substr(eq + 1);
    return true;
}

Result malformed(const std::string& arg, const std::string& why) { return Result::failed(arg + ": " + why); }

// A value that must be given: "/D=" with nothing after it is a slip, not a request.
Result required_value(const std::string& arg, const Switch& s, std::string* out) {
    if (!s.has_value) return malformed(arg, "give it a value: " + arg + "=...");
    if (s.value.empty()) return malformed(arg, "the value after '=' is empty");
    *out = s.value;
    return Result::applied();
}

Result read_install_number(const std::string& arg, const Switch& s, int* out) {
    if (!s.has_value) return Result::applied();
    char* end = nullptr;
    long n = s.value.empty() ? 0 : std::strtol(s.value.c_str(), &end, 10);
    if (s.value.empty() || *end != '\0' || n < 1 || n > 999999 || s.value[0] == '+' || s.value[0] == '-')
        return malformed(arg, "the install's number must be a whole number from 1");
    *out = static_cast<int>(n);
    return Result::applied();
}

}  // namespace

Result parse_installer_switches(const std::vector<std::string>& args, InstallerSwitches* out) {
    *out = {};
    for (const std::string& arg : args) {
        Switch s;
        if (!split_switch(arg, &s)) continue;
        Result r = Result::applied();
        if (s.name == "d") {
            r = required_value(arg, s, &out->game_dir);
        } else if (s.name == "log") {
            r = required_value(arg, s, &out->log_file);
        } else if (s.name == "s" || s.name == "?") {
            if (s.has_value) r = malformed(arg, "it takes no value");
            (s.name == "s" ? out->silent : out->help) = true;
        } else if (s.name == "undo") {
            out->undo = true;
            r = read_install_number(arg, s, &out->undo_number);
        }
        if (r.failed()) return r;
    }
    return Result::applied();
}

}  // namespace install
