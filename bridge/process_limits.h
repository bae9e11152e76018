// Limits of the host process as a whole, beyond each call's own budget: a page may create
// objects, hold documents and call in a loop for as long as its tab lives.
#pragma once

namespace quillbox::bridge {

// Address space the host may map, and CPU time it may spend in its life. Past the address space,
// allocations fail and the calls that made them answer as failures; past the CPU time the kernel
// ends the host, the page's pending call is rejected as a crashed host and its next call starts a
// new one.
inline constexpr unsigned long long kHostAddressSpaceBytes = 4ULL << 30;
inline constexpr unsigned long long kHostCpuSeconds = 600;

// Lowers the process's limits to the above (never raises one already lower). Builds with a
// sanitizer keep their address space: the shadow memory alone reserves terabytes. Answers false,
// with errno, when the kernel refused.
bool LimitHostProcess();

}  // namespace quillbox::bridge
