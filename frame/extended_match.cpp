// The extended pattern matcher: a parse into sequences of elements, then for every
// element (from the end of its sequence back) and every text position the set of end
// positions, as bit sets. Groups take their end sets from their alternatives, so nested
// groups cost no more than flat ones, and nothing is ever matched twice.
#include "frame/extended_match.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

enum class Kind : uint8_t { Char, Any, Star, Set, Group, Never };

struct Element {
    Kind kind;
    unsigned char byte;  // Char
    uint32_t index;      // Set: into sets; Group: into groups
};

struct Group {
    char op;                             // ? * + @ !
    std::vector<uint32_t> alternatives;  // sequence indexes
};

struct Pattern {
    std::vector<std::vector<Element>> sequences;  // sequence 0 is the whole pattern
    std::vector<std::bitset<256>> sets;
    std::vector<Group> groups;
};

bool IsGroupStart(std::string_view text, size_t at) {
    return at + 1 < text.size() && strchr("?*+@!", text[at]) != nullptr && text[at + 1] == '(';
}

// The scan fnmatch uses for a group: from its "(" to the matching ")", skipping bracket
// expressions crudely and nested groups; "|" at depth 0 separates alternatives. No
// backslash handling here. Returns the position of ")" or npos (then no group).
size_t GroupEnd(std::string_view text, size_t open, std::vector<size_t>* bars) {
    int level = 0;
    for (size_t at = open + 1; at < text.size(); ++at) {
        char c = text[at];
        if (c == '[') {
            ++at;
            if (at < text.size() && (text[at] == '!' || text[at] == '^')) ++at;
            if (at < text.size() && text[at] == ']') ++at;
            while (at < text.size() && text[at] != ']') ++at;
            if (at >= text.size()) return std::string_view::npos;
        } else if (IsGroupStart(text, at)) {
            ++level;
            ++at;
        } else if (c == ')') {
            if (level-- == 0) return at;
        } else if (c == '|' && level == 0) {
            bars->push_back(at);
        }
    }
    return std::string_view::npos;
}

bool NamedClass(std::string_view name, unsigned char c, bool* known) {
    static const struct {
        const char* name;
        int (*test)(int);
    } kClasses[] = {{"alnum", isalnum}, {"alpha", isalpha}, {"blank", isblank},
                    {"cntrl", iscntrl}, {"digit", isdigit}, {"graph", isgraph},
                    {"lower", islower}, {"print", isprint}, {"punct", ispunct},
                    {"space", isspace}, {"upper", isupper}, {"xdigit", isxdigit}};
    for (const auto& entry : kClasses) {
        if (name == entry.name) {
            *known = true;
            return entry.test(c) != 0;
        }
    }
    *known = false;
    return false;
}

class Parser {
  public:
    explicit Parser(Pattern* pattern) : pattern_(pattern) {}

    size_t deepest = 0;  // nesting depth of extended groups

    uint32_t Sequence(std::string_view text, size_t depth = 0) {
        deepest = std::max(deepest, depth);
        const uint32_t index = static_cast<uint32_t>(pattern_->sequences.size());
        pattern_->sequences.emplace_back();
        std::vector<Element> elements;
        for (size_t at = 0; at < text.size();) {
            const char c = text[at];
            if (IsGroupStart(text, at)) {
                std::vector<size_t> bars;
                const size_t close = GroupEnd(text, at + 1, &bars);
                if (close != std::string_view::npos) {
                    Group group{c, {}};
                    size_t start = at + 2;
                    bars.push_back(close);
                    for (size_t bar : bars) {
                        group.alternatives.push_back(
                            Sequence(text.substr(start, bar - start), depth + 1));
                        start = bar + 1;
                    }
                    pattern_->groups.push_back(group);
                    elements.push_back(
                        {Kind::Group, 0, static_cast<uint32_t>(pattern_->groups.size() - 1)});
                    at = close + 1;
                    continue;
                }
            }
            if (c == '\\') {
                if (at + 1 < text.size()) {
                    elements.push_back({Kind::Char, static_cast<unsigned char>(text[at + 1]), 0});
                    at += 2;
                } else {
                    elements.push_back({Kind::Never, 0, 0});
                    ++at;
                }
            } else if (c == '*') {
                if (elements.empty() || elements.back().kind != Kind::Star)
                    elements.push_back({Kind::Star, 0, 0});
                ++at;
            } else if (c == '?') {
                elements.push_back({Kind::Any, 0, 0});
                ++at;
            } else if (c == '[' && Bracket(text, &at, &elements)) {
            } else {
                elements.push_back({Kind::Char, static_cast<unsigned char>(c), 0});
                ++at;
            }
        }
        pattern_->sequences[index] = std::move(elements);
        return index;
    }

  private:
    // A bracket expression at *at. False (nothing consumed) when it is not closed: the
    // "[" is then an ordinary character.
    bool Bracket(std::string_view text, size_t* at, std::vector<Element>* elements) {
        size_t j = *at + 1;
        bool negate = false;
        if (j < text.size() && (text[j] == '!' || text[j] == '^')) {
            negate = true;
            ++j;
        }
        std::bitset<256> set;
        bool never = false, first = true;
        for (;;) {
            if (j >= text.size()) return false;
            unsigned char c = static_cast<unsigned char>(text[j]);
            if (c == ']' && !first) {
                ++j;
                break;
            }
            first = false;
            if (c == '[' && j + 1 < text.size() && strchr(":=.", text[j + 1]) != nullptr) {
                const char kind = text[j + 1];
                const char terminator[3] = {kind, ']', 0};
                size_t end = text.find(terminator, j + 2);
                if (end == std::string_view::npos) goto ordinary;  // "[" is a member then
                std::string_view name = text.substr(j + 2, end - (j + 2));
                j = end + 2;
                if (kind == ':') {
                    bool known = false;
                    for (int b = 0; b < 256; ++b)
                        if (NamedClass(name, static_cast<unsigned char>(b), &known)) set.set(b);
                    NamedClass(name, 0, &known);
                    if (!known) never = true;
                    continue;
                }
                if (name.size() != 1) {
                    never = true;
                    continue;
                }
                c = static_cast<unsigned char>(name[0]);
            } else if (c == '\\') {
                if (j + 1 >= text.size()) return false;
                c = static_cast<unsigned char>(text[j + 1]);
                j += 2;
            } else {
            ordinary:
                ++j;
            }
            // A range: "-" followed by anything but the closing "]".
            if (j + 1 < text.size() && text[j] == '-' && text[j + 1] != ']') {
                unsigned char last = static_cast<unsigned char>(text[j + 1]);
                size_t next = j + 2;
                if (last == '\\' && j + 2 < text.size()) {
                    last = static_cast<unsigned char>(text[j + 2]);
                    next = j + 3;
                }
                for (int b = c; b <= last; ++b) set.set(static_cast<size_t>(b));
                j = next;
                continue;
            }
            set.set(c);
        }
        *at = j;
        if (never) {
            elements->push_back({Kind::Never, 0, 0});
            return true;
        }
        if (negate) set.flip();
        pattern_->sets.push_back(set);
        elements->push_back({Kind::Set, 0, static_cast<uint32_t>(pattern_->sets.size() - 1)});
        return true;
    }

    Pattern* pattern_;
};

// Sets of text positions 0..n as rows of 64-bit words.
class Rows {
  public:
    Rows(size_t rows, size_t words) : words_(words), bits_(rows * words, 0) {}
    uint64_t* Row(size_t row) { return bits_.data() + row * words_; }

  private:
    size_t words_;
    std::vector<uint64_t> bits_;
};

class Matcher {
  public:
    Matcher(const Pattern& pattern, std::string_view text)
        : pattern_(pattern),
          text_(text),
          n_(text.size()),
          words_((text.size() + 1 + 63) / 64),
          sequenceEnds_(pattern.sequences.size()),
          groupEnds_(pattern.groups.size()) {}

    // The whole pattern is followed forward from position 0 as one set of positions, so
    // only its groups need the end sets of every start.
    bool Matches() {
        std::vector<uint64_t> reached(words_, 0), next(words_, 0);
        Add(reached.data(), 0);
        for (const Element& element : pattern_.sequences[0]) {
            std::fill(next.begin(), next.end(), 0);
            if (element.kind == Kind::Star) {
                size_t first = 0;
                while (first <= n_ && !Has(reached.data(), first)) ++first;
                for (size_t j = first; j <= n_; ++j) Add(next.data(), j);
            } else if (element.kind == Kind::Group) {
                Rows& ends = GroupEnds(element.index);
                for (size_t i = 0; i <= n_; ++i)
                    if (Has(reached.data(), i)) Or(next.data(), ends.Row(i));
            } else if (element.kind != Kind::Never) {
                for (size_t i = 0; i < n_; ++i)
                    if (Has(reached.data(), i) &&
                        Accepts(element, static_cast<unsigned char>(text_[i])))
                        Add(next.data(), i + 1);
            }
            std::swap(reached, next);
        }
        return Has(reached.data(), n_);
    }

  private:
    void Or(uint64_t* into, const uint64_t* from) const {
        for (size_t w = 0; w < words_; ++w) into[w] |= from[w];
    }
    static bool Has(const uint64_t* row, size_t position) {
        return (row[position / 64] >> (position % 64)) & 1;
    }
    static void Add(uint64_t* row, size_t position) {
        row[position / 64] |= uint64_t{1} << (position % 64);
    }
    bool Accepts(const Element& element, unsigned char c) const {
        switch (element.kind) {
            case Kind::Char:
                return c == element.byte;
            case Kind::Any:
                return true;
            case Kind::Set:
                return pattern_.sets[element.index].test(c);
            default:
                return false;
        }
    }

    // Row k*(n+1)+i: the ends of elements k.. of the sequence started at position i.
    // Only the start row (k = 0) is kept.
    const Rows& SequenceEnds(uint32_t sequence) {
        if (!sequenceEnds_[sequence].empty()) return sequenceEnds_[sequence][0];
        const std::vector<Element>& elements = pattern_.sequences[sequence];
        Rows next(n_ + 1, words_), current(n_ + 1, words_);
        for (size_t i = 0; i <= n_; ++i) Add(next.Row(i), i);
        for (size_t k = elements.size(); k-- > 0;) {
            const Element& element = elements[k];
            std::fill_n(current.Row(0), (n_ + 1) * words_, 0);
            if (element.kind == Kind::Star) {
                for (size_t i = n_ + 1; i-- > 0;) {
                    Or(current.Row(i), next.Row(i));
                    if (i < n_) Or(current.Row(i), current.Row(i + 1));
                }
            } else if (element.kind == Kind::Group) {
                Rows& ends = GroupEnds(element.index);
                for (size_t i = 0; i <= n_; ++i) {
                    const uint64_t* endRow = ends.Row(i);
                    for (size_t w = 0; w < words_; ++w) {
                        for (uint64_t bits = endRow[w]; bits != 0; bits &= bits - 1) {
                            const size_t j = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                            Or(current.Row(i), next.Row(j));
                        }
                    }
                }
            } else if (element.kind != Kind::Never) {
                for (size_t i = 0; i < n_; ++i)
                    if (Accepts(element, static_cast<unsigned char>(text_[i])))
                        Or(current.Row(i), next.Row(i + 1));
            }
            std::swap(next, current);
        }
        sequenceEnds_[sequence].push_back(std::move(next));
        return sequenceEnds_[sequence][0];
    }

    Rows& GroupEnds(uint32_t index) {
        if (!groupEnds_[index].empty()) return groupEnds_[index][0];
        const Group& group = pattern_.groups[index];
        Rows once(n_ + 1, words_);
        for (uint32_t alternative : group.alternatives) {
            Rows& ends = const_cast<Rows&>(SequenceEnds(alternative));
            for (size_t i = 0; i <= n_; ++i) Or(once.Row(i), ends.Row(i));
        }
        Rows result(n_ + 1, words_);
        switch (group.op) {
            case '@':
                result = once;
                break;
            case '?':
                result = once;
                for (size_t i = 0; i <= n_; ++i) Add(result.Row(i), i);
                break;
            case '*':
            case '+': {
                // Any number of rounds: from the end back, a start reaches what each of its
                // first rounds' ends reaches.
                Rows repeated(n_ + 1, words_);
                for (size_t i = n_ + 1; i-- > 0;) {
                    uint64_t* row = repeated.Row(i);
                    Add(row, i);
                    const uint64_t* first = once.Row(i);
                    for (size_t w = 0; w < words_; ++w)
                        for (uint64_t bits = first[w]; bits != 0; bits &= bits - 1) {
                            const size_t j = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                            if (j > i) Or(row, repeated.Row(j));
                        }
                }
                if (group.op == '*') {
                    result = repeated;
                } else {
                    for (size_t i = 0; i <= n_; ++i) {
                        const uint64_t* first = once.Row(i);
                        for (size_t w = 0; w < words_; ++w)
                            for (uint64_t bits = first[w]; bits != 0; bits &= bits - 1) {
                                const size_t j =
                                    w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                                Or(result.Row(i), repeated.Row(j));
                            }
                    }
                }
                break;
            }
            default:  // '!': every end from the start on that no alternative reaches
                for (size_t i = 0; i <= n_; ++i) {
                    uint64_t* row = result.Row(i);
                    const uint64_t* reached = once.Row(i);
                    for (size_t w = 0; w < words_; ++w) {
                        uint64_t from = w * 64 >= i
                                            ? ~uint64_t{0}
                                            : (i - w * 64 >= 64 ? 0 : ~uint64_t{0} << (i - w * 64));
                        row[w] = from & ~reached[w];
                    }
                    if ((n_ + 1) % 64 != 0) row[words_ - 1] &= (uint64_t{1} << ((n_ + 1) % 64)) - 1;
                }
        }
        groupEnds_[index].push_back(std::move(result));
        return groupEnds_[index][0];
    }

    const Pattern& pattern_;
    std::string_view text_;
    size_t n_;
    size_t words_;
    std::vector<std::vector<Rows>> sequenceEnds_;  // empty until computed
    std::vector<std::vector<Rows>> groupEnds_;
};

}  // namespace

const char* ExtendedPatternRefusal(const char* pattern, size_t patternLength) {
    Pattern parsed;
    Parser parser(&parsed);
    parser.Sequence(std::string_view(pattern, patternLength));
    if (parsed.groups.size() > EXTENDED_GROUP_LIMIT) return "it has more than 16 extended groups";
    if (parser.deepest > EXTENDED_DEPTH_LIMIT)
        return "its extended groups are nested more than 8 deep";
    return nullptr;
}

bool ExtendedMatch(const char* pattern, size_t patternLength, const char* text, size_t textLength) {
    Pattern parsed;
    Parser parser(&parsed);
    parser.Sequence(std::string_view(pattern, patternLength));
    if (parsed.groups.size() > EXTENDED_GROUP_LIMIT || parser.deepest > EXTENDED_DEPTH_LIMIT)
        return false;
    return Matcher(parsed, std::string_view(text, textLength)).Matches();
}
