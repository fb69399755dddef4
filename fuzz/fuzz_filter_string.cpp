// Any text given to the filter parser yields either a well-formed valid chain
// or the single invalid node, and evaluating whatever comes back is safe.
// A valid chain printed back as text parses to the same chain.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filters/filter_parser.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

int paramCount(rez::FilterKind kind) {
    using K = rez::FilterKind;
    switch (kind) {
        case K::VALUE:
        case K::ABS:
            return 0;
        case K::EMALP:
        case K::EMAHP:
        case K::MUL:
        case K::GAIN:
        case K::ROLLOVER:
        case K::SETVALUE:
        case K::ADD:
            return 1;
        case K::LOGISTIC:
        case K::CROP:
        case K::BITSCALE:
        case K::BITSCALESIGNED:
        case K::SINUS:
            return 2;
        case K::NOISE:
            return 3;
        case K::REMAP:
            return 4;
    }
    return -1;
}

float param(const rez::FilterSys& node, int i) {
    const float p[4] = {node.param1, node.param2, node.param3, node.param4};
    return p[i];
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Writes the chain back as text; false when a parameter has no decimal
// form the language accepts or would fail a parse-time check.
bool printChain(const std::vector<std::shared_ptr<rez::FilterSys>>& nodes, std::string& out) {
    std::string closing;
    for (std::size_t i = 0; i + 1 < nodes.size(); ++i) {
        const rez::FilterSys& node = *nodes[i];
        out += node.name;
        out += '(';
        std::string suffix;
        for (int k = 0; k < paramCount(node.kind); ++k) {
            const double v = param(node, k);
            if (!std::isfinite(v)) return false;
            char buffer[1100];
            const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
            if (r.ec != std::errc{}) return false;
            suffix += ';';
            suffix.append(buffer, r.ptr);
        }
        if (node.kind == rez::FilterKind::REMAP && std::fabs(double(node.param2) - double(node.param1)) < 1e-9)
            return false;
        suffix += ')';
        closing.insert(0, suffix);
    }
    out += "VALUE";
    out += closing;
    return true;
}

std::vector<std::shared_ptr<rez::FilterSys>> checkedNodes(const std::shared_ptr<rez::FilterSys>& head,
                                                          std::size_t textSize) {
    std::vector<std::shared_ptr<rez::FilterSys>> nodes;
    for (auto node = head; node; node = node->nextNode()) {
        check(nodes.size() <= textSize / 4);
        const int count = paramCount(node->kind);
        check(count >= 0);
        check(node->name == rez::filterKindName(node->kind));
        for (int k = count; k < 4; ++k) check(param(*node, k) == 0.0f);
        check((node->noise != nullptr) == (node->kind == rez::FilterKind::NOISE));
        check(node->prevNode() == (nodes.empty() ? nullptr : nodes.back()));
        check(nodes.empty() || !node->valid.load());
        check(node->filterState == 0.0f);
        nodes.push_back(node);
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
        check((nodes[i]->kind == rez::FilterKind::VALUE) == (i + 1 == nodes.size()));
    return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto head = rez::parseFilterString(text);
    check(head != nullptr);

    if (!head->valid.load()) {
        check(head->kind == rez::FilterKind::VALUE && head->name.empty());
        check(head->param1 == 0 && head->param2 == 0 && head->param3 == 0 && head->param4 == 0);
        check(!head->nextNode() && !head->prevNode() && !head->noise);
        check(head->evaluate(1.0, 1, 1, 1) == 0.0);
        return 0;
    }

    const auto nodes = checkedNodes(head, size + 4);
    check(head->tailNode() == nodes.back());

    std::string printed;
    if (printChain(nodes, printed)) {
        const auto again = rez::parseFilterString(printed);
        check(again->valid.load());
        const auto nodesAgain = checkedNodes(again, printed.size() + 4);
        check(nodesAgain.size() == nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            check(nodesAgain[i]->kind == nodes[i]->kind);
            for (int k = 0; k < 4; ++k) check(sameBits(param(*nodesAgain[i], k), param(*nodes[i], k)));
        }
    }

    const double inputs[] = {0.0, 1.5, -250.0, 1e12, -1e-300, std::nan(""), HUGE_VAL, -HUGE_VAL};
    for (double x : inputs) (void)head->evaluate(x, 1.0, 1.0, 1.0);
    return 0;
}
