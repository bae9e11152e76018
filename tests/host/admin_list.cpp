#include "host/admin_list.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillbox::host::test {

AdminList::AdminList(const World& world, const std::string& text) {
  std::filesystem::create_directories(world.Path("etc-upper/quillbox"));
  std::filesystem::create_directories(world.Path("etc-work"));
  world.Write("etc-upper/quillbox/browser-origins", text);
  wrapper_ = {"unshare", "--user", "--map-root-user", "--mount", "sh", "-c",
              "mount -t overlay overlay -o lowerdir=/etc,upperdir=" + world.Path("etc-upper") +
                  ",workdir=" + world.Path("etc-work") + " /etc && exec \"$0\" \"$@\""};
  std::vector<std::string> probe(wrapper_.begin() + 1, wrapper_.end());
  probe.emplace_back("true");
  usable_ = world.Program(wrapper_.front(), probe).status == 0;
}

}  // namespace quillbox::host::test
