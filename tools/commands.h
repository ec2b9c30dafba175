// The dravo tool's commands. Each adds its subcommand to the parser and, when chosen, sets the
// exit status it ends with.
#pragma once

namespace CLI {
class App;
}

namespace tool {

void add_files_command(CLI::App& app, int& exit_status);
void add_container_command(CLI::App& app, int& exit_status);
void add_install_command(CLI::App& app, int& exit_status);
void add_pack_command(CLI::App& app, int& exit_status);
void add_locate_command(CLI::App& app, int& exit_status);
void add_msg_command(CLI::App& app, int& exit_status);
void add_recover_command(CLI::App& app, int& exit_status);
void add_unpatch_command(CLI::App& app, int& exit_status);
void add_patch_command(CLI::App& app, int& exit_status);

}  // namespace tool
