#include "platform/formats/ContentLines.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/Text.h"

namespace wren::platform {
namespace {

constexpr std::size_t kMaxLineOctets = 75;

// The property name of a logical line: everything before the first ';' or ':'.
std::string nameOf(std::string_view logical) {
  return asciiUpper(logical.substr(0, std::min(logical.find_first_of(";:"), logical.size())));
}

// Where the value starts: after the first ':' outside a quoted parameter value.
std::size_t valueStart(std::string_view logical) {
  bool quoted = false;
  for (std::size_t i = 0; i < logical.size(); ++i) {
    if (logical[i] == '"') quoted = !quoted;
    if (logical[i] == ':' && !quoted) return i + 1;
  }
  return logical.size();
}

// True when every byte of the text is a character of its own: ASCII without carriage
// returns (CR LF is one character). Marks that join a character to the one before are
// never ASCII, so the character after such a run cannot extend its last byte either.
bool isPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0 && c != '\r'; });
}

// The longest run of whole characters (grapheme clusters: a letter with its combining
// marks, an emoji sequence) at the start of the text that fits in the limit. A single
// character longer than the limit is taken whole, because a character is never split.
std::size_t chunkLength(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  if (isPlainAscii(text.substr(0, limit + 1))) return limit;
  const std::size_t fits = graphemeBoundaryAtOrBefore(text, limit);
  return fits > 0 ? fits : graphemePrefix(text, 1).text.size();
}

}  // namespace

std::string asciiUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) { return asciiUpper(a) == asciiUpper(b); }

ContentLine ContentLine::fromLogical(std::string_view logical) {
  return ContentLine{nameOf(logical), std::string(logical), foldedText(logical)};
}

const ContentLine* RawComponent::line(std::string_view propertyName) const {
  const std::string wanted = asciiUpper(propertyName);
  for (const ContentLine& candidate : lines) {
    if (candidate.name == wanted) return &candidate;
  }
  return nullptr;
}

void RawComponent::setLine(const ContentLine& replacement) {
  auto first = std::find_if(lines.begin(), lines.end(),
                            [&](const ContentLine& candidate) { return candidate.name == replacement.name; });
  if (first == lines.end()) {
    lines.push_back(replacement);
    return;
  }
  *first = replacement;
  lines.erase(std::remove_if(std::next(first), lines.end(),
                             [&](const ContentLine& candidate) { return candidate.name == replacement.name; }),
              lines.end());
}

void RawComponent::removeLines(std::string_view propertyName) {
  const std::string wanted = asciiUpper(propertyName);
  std::erase_if(lines, [&](const ContentLine& candidate) { return candidate.name == wanted; });
}

RawComponent* RawComponent::masterChild(std::string_view componentName) {
  return const_cast<RawComponent*>(std::as_const(*this).masterChild(componentName));
}

const RawComponent* RawComponent::masterChild(std::string_view componentName) const {
  const std::string wanted = asciiUpper(componentName);
  const RawComponent* first = nullptr;
  for (const RawComponent& child : children) {
    if (child.name != wanted) continue;
    if (!child.line("RECURRENCE-ID")) return &child;
    if (!first) first = &child;
  }
  return first;
}

namespace {

// True when a logical line's parameters ask for quoted-printable decoding, as "ENCODING=
// QUOTED-PRINTABLE" or as the bare vCard 2.1 parameter.
bool isQuotedPrintable(std::string_view logical) {
  const std::string head = asciiUpper(logical.substr(0, valueStart(logical)));
  return head.find("QUOTED-PRINTABLE") != std::string::npos;
}

}  // namespace

std::optional<std::vector<RawComponent>> splitRootComponents(std::string_view text, SplitOptions options) {
  std::vector<RawComponent> open;
  std::optional<ContentLine> pending;
  std::vector<RawComponent> roots;

  auto close = [&] {
    RawComponent done = std::move(open.back());
    open.pop_back();
    if (open.empty()) {
      roots.push_back(std::move(done));
    } else {
      open.back().children.push_back(std::move(done));
    }
  };
  // A finished logical line either opens or closes a component or belongs to the innermost.
  auto finish = [&]() -> bool {
    if (!pending) return true;
    ContentLine line = std::move(*pending);
    pending.reset();
    if (line.name == "BEGIN" || line.name == "END") {
      const std::string value = asciiUpper(trimWhitespace(line.unfolded.substr(valueStart(line.unfolded))));
      if (line.name == "BEGIN") {
        if (open.size() == kMaxComponentNesting) return false;
        open.push_back(RawComponent{value, {}, {}});
        return true;
      }
      if (open.empty()) return options.lenient;
      if (open.back().name != value && !options.lenient) return false;
      close();
      return true;
    }
    if (!open.empty()) open.back().lines.push_back(std::move(line));
    return true;
  };

  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view physical = text.substr(at, end - at);
    at = end + 1;
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    if (options.quotedPrintableBreaks && pending && pending->unfolded.ends_with('=') &&
        isQuotedPrintable(pending->unfolded)) {
      pending->unfolded.pop_back();
      pending->unfolded.append(physical);
      pending->raw.append("\r\n").append(physical);
      continue;
    }
    if (physical.empty()) continue;
    if ((physical.front() == ' ' || physical.front() == '\t') && pending) {
      pending->unfolded.append(physical.substr(1));
      pending->raw.append("\r\n").append(physical);
      continue;
    }
    if (!finish()) return std::nullopt;
    pending = ContentLine{nameOf(physical), std::string(physical), std::string(physical)};
  }
  if (!finish()) return std::nullopt;
  if (!open.empty()) {
    if (!options.lenient) return std::nullopt;
    while (!open.empty()) close();
  }
  return roots;
}

std::optional<RawComponent> splitComponents(std::string_view text) {
  std::optional<std::vector<RawComponent>> roots = splitRootComponents(text, SplitOptions{});
  if (!roots || roots->empty()) return std::nullopt;
  return std::move(roots->front());
}

const RawComponent* LazySplit::get() {
  if (!split_) {
    root_ = splitComponents(text_);
    split_ = true;
  }
  return root_ ? &*root_ : nullptr;
}

std::optional<RawComponent> LazySplit::take() {
  get();
  return std::move(root_);
}

namespace {

bool keepsFolding(const ContentLine& line) {
  if (line.raw.empty()) return false;
  std::size_t at = 0;
  while (at <= line.raw.size()) {
    std::size_t end = line.raw.find("\r\n", at);
    if (end == std::string::npos) end = line.raw.size();
    if (end - at > kMaxLineOctets) return false;
    at = end + 2;
  }
  return true;
}

void emitInto(const RawComponent& component, std::string& out) {
  out += "BEGIN:" + component.name + "\r\n";
  for (const ContentLine& line : component.lines) {
    if (keepsFolding(line)) {
      out += line.raw + "\r\n";
    } else {
      out += foldedText(line.unfolded) + "\r\n";
    }
  }
  for (const RawComponent& child : component.children) emitInto(child, out);
  out += "END:" + component.name + "\r\n";
}

}  // namespace

std::string emitComponent(const RawComponent& component) {
  std::string out;
  emitInto(component, out);
  return out;
}

std::string foldedText(std::string_view logical) {
  std::string out;
  std::size_t limit = kMaxLineOctets;
  while (logical.size() > limit) {
    const std::size_t length = chunkLength(logical, limit);
    out.append(logical.substr(0, length));
    logical.remove_prefix(length);
    if (logical.empty()) break;  // a last character longer than the limit
    out.append("\r\n ");
    limit = kMaxLineOctets - 1;  // the leading space counts
  }
  out.append(logical);
  return out;
}

std::string foldLine(std::string_view logical) { return foldedText(logical) + "\r\n"; }

std::string unfoldText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t breakLength = text.compare(i, 2, "\r\n") == 0 ? 2 : (text[i] == '\n' ? 1 : 0);
    const std::size_t next = i + breakLength;
    if (breakLength > 0 && next < text.size() && (text[next] == ' ' || text[next] == '\t')) {
      i = next;  // the loop's step skips the leading white space
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string escapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '\\': out += "\\\\"; break;
      case ';': out += "\\;"; break;
      case ',': out += "\\,"; break;
      case '\n': out += "\\n"; break;
      case '\r':
        if (i + 1 >= text.size() || text[i + 1] != '\n') out += "\\n";
        break;
      default: out += text[i];
    }
  }
  return out;
}

std::string unescapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char escaped = text[++i];
    if (escaped == 'n' || escaped == 'N') {
      out += '\n';
    } else if (escaped == '\\' || escaped == ';' || escaped == ',') {
      out += escaped;
    } else {
      out.append({'\\', escaped});  // not an escape RFC 5545 knows: kept as written
    }
  }
  return out;
}

std::string_view valueOf(const ContentLine& line) {
  return std::string_view(line.unfolded).substr(valueStart(line.unfolded));
}

std::string parameterValue(std::string_view value) {
  std::string text(value);
  std::replace(text.begin(), text.end(), '"', '\'');
  if (text.find_first_of(":;,") == std::string::npos) return text;
  return "\"" + text + "\"";
}

std::vector<Parameter> parametersOf(std::string_view logical) {
  std::vector<Parameter> parameters;
  // The text between the name and the ':' that starts the value (or the end of a line
  // that has no value).
  const std::size_t valueAt = valueStart(logical);
  const std::size_t end = valueAt > 0 && logical[valueAt - 1] == ':' ? valueAt - 1 : logical.size();
  const std::size_t nameEnd = std::min(logical.find_first_of(";:"), logical.size());
  if (nameEnd >= end || logical[nameEnd] != ';') return parameters;
  const std::string_view text = logical.substr(nameEnd + 1, end - (nameEnd + 1));
  std::size_t at = 0;
  while (at <= text.size()) {
    bool quoted = false;
    std::size_t next = at;
    for (; next < text.size(); ++next) {
      if (text[next] == '"') quoted = !quoted;
      if (!quoted && text[next] == ';') break;
    }
    const std::string_view piece = text.substr(at, next - at);
    const std::size_t equals = piece.find('=');
    Parameter parameter;
    if (equals == std::string_view::npos) {
      parameter.value = std::string(piece);
    } else {
      parameter.name = asciiUpper(piece.substr(0, equals));
      parameter.value = std::string(piece.substr(equals + 1));
    }
    std::erase(parameter.value, '"');
    if (!parameter.name.empty() || !parameter.value.empty()) parameters.push_back(std::move(parameter));
    at = next + 1;
  }
  return parameters;
}

GroupedName splitGroup(std::string_view propertyName) {
  const std::size_t dot = propertyName.rfind('.');
  if (dot == std::string_view::npos) return {{}, asciiUpper(propertyName)};
  return {asciiUpper(propertyName.substr(0, dot)), asciiUpper(propertyName.substr(dot + 1))};
}

std::optional<std::string> parameterOf(std::string_view logical, std::string_view parameter) {
  const std::size_t end = valueStart(logical);
  std::size_t at = logical.find(';');
  while (at != std::string_view::npos && at < end) {
    const std::size_t equals = logical.find('=', at);
    if (equals == std::string_view::npos || equals >= end) return std::nullopt;
    bool quoted = false;
    std::size_t next = equals + 1;
    for (; next < end - 1; ++next) {
      if (logical[next] == '"') quoted = !quoted;
      if (!quoted && (logical[next] == ';' || logical[next] == ':')) break;
    }
    if (equalsIgnoringAsciiCase(logical.substr(at + 1, equals - at - 1), parameter)) {
      std::string value(logical.substr(equals + 1, next - equals - 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      return value;
    }
    at = next < end - 1 ? next : std::string_view::npos;
  }
  return std::nullopt;
}

}  // namespace wren::platform
