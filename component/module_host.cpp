#include "component/module_host.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace quillbox {
namespace {

constinit std::atomic<ModuleHost*> connected{nullptr};

}  // namespace

void ConnectModuleHost(ModuleHost& host) { connected.store(&host, std::memory_order_release); }

ModuleHost& TheModuleHost() {
  ModuleHost* host = connected.load(std::memory_order_acquire);
  if (host == nullptr) {
    std::fputs("quillbox: a Signature object was made with no module host connected\n", stderr);
    std::abort();
  }
  return *host;
}

}  // namespace quillbox
