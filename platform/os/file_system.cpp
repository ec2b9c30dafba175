// The table of the system's file calls, and the one the chain uses now.
#include "platform/os/os.h"

namespace plat::os {

namespace {

const FileSystem kSystem = {
    open_file,      read_file,        write_file,       read_at,          seek_file,
    file_size,      flush_file,       close_file,       copy_range,       open_text,
    duplicate_file, open_text_on,     rename_held,
    exists,         is_directory,     is_read_only,     delete_file,      create_directory,
    remove_directory, set_read_only,  copy_file_attributes, flush_named_file, rename_file,
    flush_folder,   renames_over_held_files, list_directory, free_disk_bytes, modified_time, current_directory,
    change_directory, temp_directory, process_running, entry_kind, owned_safely, create_private_directory,
    restrict_to_owner_writes, open_append_no_follow, file_identity, remove_tree,
    leave_in_cache, hold_folder, long_path_name, delete_at_restart, create_admin_directory,
    copy_file,
};

const FileSystem* g_current = &kSystem;

}  // namespace

const FileSystem& system_file_system() { return kSystem; }
const FileSystem& file_system() { return *g_current; }
void use_file_system(const FileSystem* fs) { g_current = fs ? fs : &kSystem; }

}  // namespace plat::os
