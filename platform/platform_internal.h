// Helpers shared by the per-system implementations of the platform layer; not for the core.
#pragma once

namespace plat::detail {

// Counts a write and answers whether the test's fault injection wants this one to fail.
bool injected_write_failure();

}  // namespace plat::detail
