#include "tests/support/child_game.h"

namespace rez::test {

std::string helperPath(const std::string& name) {
#if defined(_WIN32)
    return name + ".exe";  // tests run in the build folder
#else
    return std::string(REZ_TEST_HELPER_DIR) + "/" + name;
#endif
}

sim::ProcessHolder sleeperHolder() { return {helperPath("rez_sleeper"), {"600"}}; }

ChildGame::ChildGame(const std::string& exeName) {
    std::string error;
    process_.start(exeName, sleeperHolder(), error);
}

}  // namespace rez::test
