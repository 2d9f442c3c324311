#include "outside/sqlite/LikePattern.h"

#include <string>
#include <vector>

namespace closewright::sqlite {

namespace {

// Code points of a UTF-8 text; a byte that starts no valid sequence stands for itself.
std::u32string Decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 1;
    if (i + length > text.size()) length = 1;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
      point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(point);
    i += length;
  }
  return out;
}

char32_t Fold(char32_t c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

struct Element {
  enum class Kind { AnyRun, One, Set, Literal } kind = Kind::Literal;
  char32_t literal = 0;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;

  bool Matches(char32_t c) const {
    if (kind == Kind::One) return true;
    if (kind == Kind::Literal) return Fold(c) == Fold(literal);
    bool in = false;
    for (const auto& [low, high] : ranges) in = in || (Fold(c) >= Fold(low) && Fold(c) <= Fold(high));
    return in != negated;
  }
};

// A `[` without its `]` is a literal, as the server reads it.
std::size_t ReadSet(const std::u32string& p, std::size_t open, Element& set) {
  std::size_t i = open + 1;
  set.kind = Element::Kind::Set;
  if (i < p.size() && p[i] == '^') {
    set.negated = true;
    ++i;
  }
  for (; i < p.size() && p[i] != ']'; ++i) {
    if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
      set.ranges.emplace_back(p[i], p[i + 2]);
      i += 2;
    } else {
      set.ranges.emplace_back(p[i], p[i]);
    }
  }
  if (i >= p.size()) {
    set = Element{};
    set.literal = '[';
    return open;
  }
  return i;
}

std::vector<Element> Compile(const std::u32string& p, std::optional<char32_t> escape) {
  std::vector<Element> elements;
  for (std::size_t i = 0; i < p.size(); ++i) {
    Element e;
    if (escape && p[i] == *escape && i + 1 < p.size()) {
      e.literal = p[++i];
    } else if (p[i] == '%') {
      e.kind = Element::Kind::AnyRun;
      if (!elements.empty() && elements.back().kind == Element::Kind::AnyRun) continue;
    } else if (p[i] == '_') {
      e.kind = Element::Kind::One;
    } else if (p[i] == '[') {
      i = ReadSet(p, i, e);
    } else {
      e.literal = p[i];
    }
    elements.push_back(std::move(e));
  }
  return elements;
}

}  // namespace

bool MatchesLikePattern(std::string_view text, std::string_view pattern, std::optional<char32_t> escape) {
  const std::u32string t = Decode(text);
  const std::vector<Element> elements = Compile(Decode(pattern), escape);
  // matched[j]: the first j characters of the text match the elements read so far.
  std::vector<char> matched(t.size() + 1, 0);
  matched[0] = 1;
  for (const Element& e : elements) {
    std::vector<char> next(t.size() + 1, 0);
    if (e.kind == Element::Kind::AnyRun) {
      bool any = false;
      for (std::size_t j = 0; j <= t.size(); ++j) next[j] = static_cast<char>(any = any || matched[j]);
    } else {
      for (std::size_t j = 1; j <= t.size(); ++j)
        next[j] = static_cast<char>(matched[j - 1] && e.Matches(t[j - 1]));
    }
    matched.swap(next);
  }
  return matched[t.size()] != 0;
}

}  // namespace closewright::sqlite
