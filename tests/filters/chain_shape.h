#pragma once
// Reading a chain back for tests: its nodes from head to tail.
#include <memory>
#include <vector>

#include "filters/filter_sys.h"

namespace rez::test {

inline std::vector<std::shared_ptr<FilterSys>> chainNodes(const std::shared_ptr<FilterSys>& head) {
    std::vector<std::shared_ptr<FilterSys>> nodes;
    for (auto node = head; node; node = node->nextNode()) nodes.push_back(node);
    return nodes;
}

}  // namespace rez::test
