#include "drivedb/pattern_automaton.h"

#include <algorithm>

namespace sentrel::drivedb {

// Builds the states back to front: each node is emitted knowing the state
// that follows it, and answers the state that enters it.
class PatternAutomaton::Builder {
 public:
  explicit Builder(PatternAutomaton& automaton) : a_(automaton) {}

  bool build(const PatternNode& tree) {
    const std::optional<std::uint32_t> match = add({State::Kind::match});
    const std::optional<std::uint32_t> entry = match ? emit(tree, *match) : std::nullopt;
    if (!entry) return false;
    a_.start_ = *entry;
    return true;
  }

 private:
  std::optional<std::uint32_t> add(State state) {
    if (a_.states_.size() >= kMostStates) return std::nullopt;
    a_.states_.push_back(state);
    return static_cast<std::uint32_t>(a_.states_.size() - 1);
  }

  std::optional<std::uint32_t> oneOf(const PrintableSet& chars, std::uint32_t next) {
    auto found = std::find(a_.sets_.begin(), a_.sets_.end(), chars);
    if (found == a_.sets_.end()) found = a_.sets_.insert(a_.sets_.end(), chars);
    return add({State::Kind::oneOf, next, 0, static_cast<std::uint32_t>(found - a_.sets_.begin())});
  }

  std::optional<std::uint32_t> split(std::uint32_t first, std::uint32_t second) {
    return add({State::Kind::split, first, second, 0});
  }

  std::optional<std::uint32_t> emit(const PatternNode& node, std::uint32_t next) {
    switch (node.kind) {
      case PatternNode::Kind::character: {
        if (node.text.size() != 1 || node.text[0] < 0x20 || node.text[0] > 0x7E)
          return std::nullopt;
        PrintableSet one;
        one.set(static_cast<std::size_t>(node.text[0]));
        return oneOf(one, next);
      }
      case PatternNode::Kind::oneOf:
        if (!node.chars) return std::nullopt;
        return oneOf(*node.chars, next);
      case PatternNode::Kind::assertion:
        if (node.assertion == '^') return add({State::Kind::start, next});
        if (node.assertion == '$') return add({State::Kind::end, next});
        return std::nullopt;
      case PatternNode::Kind::sequence: {
        std::optional<std::uint32_t> entry = next;
        for (auto child = node.children.rbegin(); child != node.children.rend() && entry; ++child)
          entry = emit(*child, *entry);
        return entry;
      }
      case PatternNode::Kind::choice: {
        std::optional<std::uint32_t> entry = emit(node.children.back(), next);
        for (auto child = node.children.rbegin() + 1; child != node.children.rend() && entry;
             ++child) {
          const std::optional<std::uint32_t> branch = emit(*child, next);
          entry = branch ? split(*branch, *entry) : std::nullopt;
        }
        return entry;
      }
      case PatternNode::Kind::repeat:
        return repeat(node, next);
    }
    return std::nullopt;
  }

  std::optional<std::uint32_t> repeat(const PatternNode& node, std::uint32_t next) {
    const PatternNode& body = node.children.front();
    // ICU's view of a quantified anchor is not worth modelling.
    if (body.kind == PatternNode::Kind::assertion) return std::nullopt;
    std::optional<std::uint32_t> tail = next;
    if (node.most == PatternNode::kUnbounded) {
      // A loop: try the body again, or go on.
      const std::optional<std::uint32_t> loop = split(0, next);
      if (!loop) return std::nullopt;
      const std::optional<std::uint32_t> entry = emit(body, *loop);
      if (!entry) return std::nullopt;
      a_.states_[*loop].out = *entry;
      tail = loop;
    } else {
      for (unsigned k = node.least; k < node.most && tail; ++k) {
        const std::optional<std::uint32_t> entry = emit(body, *tail);
        tail = entry ? split(*entry, *tail) : std::nullopt;
      }
    }
    for (unsigned k = 0; k < node.least && tail; ++k) tail = emit(body, *tail);
    return tail;
  }

  PatternAutomaton& a_;
};

std::optional<PatternAutomaton> PatternAutomaton::of(std::string_view pattern) {
  if (!pattern.empty() && (pattern[0] == '*' || pattern[0] == '+' || pattern[0] == '?'))
    return PatternAutomaton();  // no states: nothing matches
  const std::optional<PatternNode> tree = parsePattern(pattern);
  if (!tree) return std::nullopt;
  return of(*tree);
}

std::optional<PatternAutomaton> PatternAutomaton::of(const PatternNode& tree) {
  PatternAutomaton automaton;
  if (!Builder(automaton).build(tree)) return std::nullopt;
  return automaton;
}

bool PatternAutomaton::canMatch(std::string_view subject) {
  return std::all_of(subject.begin(), subject.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Adds `state` and every state reached from it without reading a character
// at `position` to `list`; true when one of them is the match.
bool PatternAutomaton::addClosure(std::vector<std::uint32_t>& list, std::uint32_t state,
                                  std::size_t position, std::size_t length,
                                  std::vector<std::uint32_t>& marks,
                                  std::uint32_t generation) const {
  std::vector<std::uint32_t> pending{state};
  while (!pending.empty()) {
    const std::uint32_t s = pending.back();
    pending.pop_back();
    if (marks[s] == generation) continue;
    marks[s] = generation;
    const State& st = states_[s];
    switch (st.kind) {
      case State::Kind::match:
        return true;
      case State::Kind::oneOf:
        list.push_back(s);
        break;
      case State::Kind::split:
        pending.push_back(st.other);
        pending.push_back(st.out);
        break;
      case State::Kind::start:
        if (position == 0) pending.push_back(st.out);
        break;
      case State::Kind::end:
        if (position == length) pending.push_back(st.out);
        break;
    }
  }
  return false;
}

bool PatternAutomaton::findsIn(std::string_view subject) const {
  if (matchesNothing()) return false;
  std::vector<std::uint32_t> marks(states_.size(), 0);
  std::vector<std::uint32_t> current, next;
  std::uint32_t generation = 1;
  for (std::size_t position = 0;; ++position) {
    // A match may start at any position.
    if (addClosure(current, start_, position, subject.size(), marks, generation)) return true;
    if (position == subject.size()) return false;
    ++generation;
    next.clear();
    const auto c = static_cast<std::size_t>(static_cast<unsigned char>(subject[position]));
    for (std::uint32_t s : current) {
      if (c < 128 && sets_[states_[s].set].test(c) &&
          addClosure(next, states_[s].out, position + 1, subject.size(), marks, generation))
        return true;
    }
    std::swap(current, next);
  }
}

}  // namespace sentrel::drivedb
