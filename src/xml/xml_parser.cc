#include "xml/xml_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace zv {
namespace {

using Phase = ParserScan::Phase;

constexpr bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_quote(char c) { return c == '\'' || c == '"'; }

// The text never reaches this size, so every index and length in it fits
// the records' TextIndex.
constexpr std::size_t kTextLimit = std::numeric_limits<TextIndex>::max();

// Names, attribute names and values are zero-terminated texts in the
// document model, so a zero byte inside one of them ends it there; the
// length is cut once, when the record is made.  Data keeps every byte.
TextSpan span_up_to_nul(const char* text, std::size_t begin, std::size_t end) {
  const void* nul = std::memchr(text + begin, '\0', end - begin);
  std::size_t stop = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : end;
  return {static_cast<TextIndex>(begin), static_cast<TextIndex>(stop - begin)};
}

// A text grows to at least twice its capacity, so that appending a reply
// piece by piece copies each byte a bounded number of times.  On refusal
// nothing changes: the piece is lost, the document and position stay.
// Text appends with memcpy and leaves fresh room unwritten, so each byte is
// written once per growth; its first block (256 bytes at least) is past
// the in-record buffer, so the text always lives in a gate block.
bool append_text(Parser& parser, std::string_view piece) noexcept {
  Text& text = parser.text;
  std::size_t size = text.size();
  if (piece.size() > kTextLimit - size) {
    memory_report_refusal();
    return false;
  }
  if (!piece.empty() && (size + piece.size() > text.capacity() || text.capacity() < 256)) {
    std::size_t target = std::min(kTextLimit, std::max<std::size_t>(text.capacity() * 2, 256));
    // Within an announced size, growth is faster (fewer copies, and fewer
    // fresh pages for the system to clear) and stops there, so the block
    // ends the size of the text: its unused room would be touched by the
    // wipe on release.  Each step is still bounded by what really arrived.
    if (size + piece.size() <= parser.text_goal) {
      target = std::min(std::min(kTextLimit / 8, text.capacity()) * 8, parser.text_goal);
      target = std::max<std::size_t>(target, 256);
    }
    if (parser.text_bound > 0) target = std::min(target, parser.text_bound);
    Text grown;
    try {
      grown.reserve(std::max(size + piece.size(), target));
    } catch (const std::bad_alloc&) {
      return false;
    }
    grown.append(text);  // fits: no allocation
    text.swap(grown);    // the old block is wiped as `grown` goes
  }
  text.append(piece);  // fits: no allocation
  return true;
}

}  // namespace

void parser_reserve(Parser& parser, std::size_t expected) noexcept {
  Text& text = parser.text;
  parser.text_goal = text.size() + std::min(expected, kTextLimit - text.size());
  std::size_t wanted = text.size() + std::min(expected, kParserReserveLimit);
  if (wanted <= text.capacity() || wanted > kTextLimit) return;
  try {
    Text grown;
    grown.reserve(std::max<std::size_t>(wanted, 256));
    grown.append(text);
    text.swap(grown);
  } catch (const std::bad_alloc&) {
    // Reported by the gate; the text grows piece by piece instead.
  }
}

namespace {

// One step of the parser: an end tag, a comment, or a start tag with its
// name, attributes and data; or nothing, when the text so far holds no
// complete markup at the position.
//
// Every scan of a step stops at the end of the text.  A step whose scan gets
// there is incomplete: the position stays at the step's start (at the '<'
// of a comment), nothing is recorded, and the scan's progress is kept in
// parser.scan so that the next piece continues it instead of starting over.
// Since the text only grows, the resumed step ends exactly as it would on
// the whole text: cutting a text anywhere gives the same document.
class Step {
 public:
  explicit Step(Parser& parser)
      : parser_(parser), scan_(parser.scan), text_(parser.text.data()), size_(parser.text.size()) {}

  int run() noexcept;

 private:
  static bool building(Phase phase) { return phase >= Phase::kAttrLead; }

  template <class Stop>
  std::size_t find(std::size_t from, Stop stop) const {
    while (from < size_ && !stop(text_[from])) ++from;
    return from;
  }
  std::size_t find_char(std::size_t from, char c) const {
    if (from >= size_) return size_;
    const void* hit = std::memchr(text_ + from, c, size_ - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_) : size_;
  }
  std::size_t skip_space(std::size_t from) const {
    return find(from, [](char c) { return !is_space(c); });
  }

  bool wanted(const Tag& tag);
  bool records_attributes() const { return parser_.scope == ParseScope::kAll; }
  void start_over();
  int wait(std::size_t position) noexcept;
  int finish(int result, std::size_t position);

  int lead();
  int comment();
  int end_tag();
  int close();
  int next();
  int attribute_lead();
  int attribute_name();
  int attribute_quote();
  int attribute_value();
  int tag_end();
  int data();

  Parser& parser_;
  ParserScan& scan_;
  const char* text_;
  std::size_t size_;
};

// A phase either moves on to the next phase (returning kGoOn) or ends the
// step with its result.
constexpr int kGoOn = 0;

int Step::run() noexcept {
  parser_.state = 0;
  if (scan_.step_start != parser_.position) start_over();
  for (;;) {
    int result = kGoOn;
    switch (scan_.phase) {
      case Phase::kLead: result = lead(); break;
      case Phase::kComment: result = comment(); break;
      case Phase::kEndTag: result = end_tag(); break;
      case Phase::kClose: result = close(); break;
      case Phase::kNext: result = next(); break;
      case Phase::kAttrLead: result = attribute_lead(); break;
      case Phase::kAttrName: result = attribute_name(); break;
      case Phase::kAttrQuote: result = attribute_quote(); break;
      case Phase::kAttrValue: result = attribute_value(); break;
      case Phase::kTagEnd: result = tag_end(); break;
      case Phase::kData: result = data(); break;
    }
    if (result != kGoOn) return result;
  }
}

// Only a finished step (or a cleared parser) is ever followed by a step
// from another position: a waiting step leaves the position where it
// began, and nothing else moves it.  So no tag under way is dropped here.
void Step::start_over() {
  scan_.step_start = parser_.position;
  scan_.phase = Phase::kLead;
  scan_.scanned = parser_.position;
  scan_.open_quote = 0;
}

// No progress: more text is needed (or, for a lead that met anything but
// '<', never helps: the parser is stalled there).  The scan stays cached,
// with the tag under way if there is one: it is not in the document yet.
int Step::wait(std::size_t position) noexcept {
  parser_.position = position;
  scan_.step_start = position;
  parser_.state = 0;
  return kParseDone;
}

// Whether a finished tag is recorded, by the parser's scope; the tag that
// settles a kUntilData parse is recorded, and nothing after it.
bool Step::wanted(const Tag& tag) {
  if (parser_.scope == ParseScope::kAll) return true;
  if (tag.data.length == 0) return false;
  std::string_view name(text_ + tag.name.at, tag.name.length);
  if (name.size() == 4 && std::memcmp(name.data(), "data", 4) == 0) {
    parser_.settled = true;
    return true;
  }
  for (std::string_view asked : parser_.asked) {
    if (name.starts_with(asked)) return true;
  }
  return false;
}

// A tag under way joins the document here, in the room made for it.
int Step::finish(int result, std::size_t position) {
  if (building(scan_.phase) && wanted(scan_.tag)) parser_.tags.push_back(scan_.tag);
  parser_.position = position;
  parser_.state = 1;
  scan_.step_start = SIZE_MAX;
  scan_.phase = Phase::kLead;
  return result;
}

int Step::lead() {
  std::size_t at = skip_space(scan_.scanned);
  scan_.scanned = at;
  if (at == size_ || text_[at] != '<') return wait(scan_.step_start);
  scan_.lt = at;
  // A comment is passed over as soon as its first '>' is here, whatever
  // follows it: it is never read as a start tag named "!--", reading goes on
  // just past that '>', and the tags after it are read.  A document then
  // does not depend on where the text was cut, comments included.  Fewer
  // than four characters cannot tell a comment yet.
  std::size_t known = std::min<std::size_t>(size_ - at, 4);
  bool comment = known == 4 ? std::memcmp(text_ + at, "<!--", 4) == 0
                            : std::memcmp(text_ + at, "<!--", known) == 0;
  if (comment) {
    if (known < 4) return wait(scan_.step_start);
    scan_.phase = Phase::kComment;
    scan_.scanned = at + 1;
  } else if (text_[at + 1] == '/') {
    scan_.phase = Phase::kEndTag;
    scan_.scanned = at + 2;
  } else {
    scan_.phase = Phase::kClose;
    scan_.scanned = at + 1;
    scan_.open_quote = 0;
  }
  return kGoOn;
}

// The first '>' ends a comment, even one inside it.  Until it arrives the
// position waits on the comment's '<', so a comment spread over several
// configuration lines is passed over whole once its end is read.
int Step::comment() {
  std::size_t end = find_char(scan_.scanned, '>');
  scan_.scanned = end;
  if (end == size_) return wait(scan_.lt);
  return finish(kParseDone, skip_space(end + 1));
}

// The name inside an end tag is not looked at and quotes mean nothing here.
int Step::end_tag() {
  std::size_t end = find_char(scan_.scanned, '>');
  scan_.scanned = end;
  if (end == size_) return wait(scan_.step_start);
  return finish(kParseDone, end + 1);
}

// The closing '>' is the first one outside quotes.  An unescaped quote opens
// a section, closes the section it opened, or replaces the other quote as
// the open one.  The character before the first one scanned is the '<'.
int Step::close() {
  std::size_t at = scan_.scanned;
  char open = scan_.open_quote;
  for (; at < size_; ++at) {
    char c = text_[at];
    if (c == '>') {
      if (open == 0) break;
    } else if (is_quote(c) && text_[at - 1] != '\\') {
      open = open == c ? 0 : c;
    }
  }
  scan_.scanned = at;
  scan_.open_quote = open;
  if (at == size_) return wait(scan_.step_start);
  scan_.phase = Phase::kNext;
  scan_.scanned = at + 1;
  return kGoOn;
}

// The tag's data runs up to the next '<', so a start tag is read only once
// that '<' is here.  Then room is made for its record and its name read;
// the name ends at the first '>' or white space, which the closing '>'
// bounds.
int Step::next() {
  std::size_t next_lt = find_char(scan_.scanned, '<');
  scan_.scanned = next_lt;
  if (next_lt == size_) return wait(scan_.step_start);
  scan_.next_lt = next_lt;
  if (!parser_.tags.reserve_one()) {
    // The tag is lost; reading resumes at the '<' after it with the next
    // piece (state 0 ends this call).
    finish(kParseNoMemory, next_lt);
    parser_.state = 0;
    return kParseNoMemory;
  }
  std::size_t start = scan_.lt + 1;
  std::size_t end = find(start, [](char c) { return c == '>' || is_space(c); });
  scan_.tag = Tag{};
  scan_.tag.name = span_up_to_nul(text_, start, end);
  scan_.tag.first_attribute = static_cast<TextIndex>(parser_.attributes.size());
  scan_.phase = Phase::kAttrLead;
  scan_.scanned = end;
  return kGoOn;
}

int Step::attribute_lead() {
  std::size_t at = skip_space(scan_.scanned);
  scan_.scanned = at;
  if (at == size_) return wait(scan_.step_start);
  scan_.mark = at;
  char c = text_[at];
  scan_.phase = (c == '/' || c == '?' || c == '>') ? Phase::kTagEnd : Phase::kAttrName;
  return kGoOn;
}

// An attribute that ends at '>' before its quoted value is not made; the
// position stays on its name, which stalls the parser.
int Step::attribute_name() {
  std::size_t end = find(scan_.scanned, [](char c) { return c == '=' || c == '>' || is_space(c); });
  scan_.scanned = end;
  if (end == size_) return wait(scan_.step_start);
  if (text_[end] == '>') return finish(kParseIncomplete, scan_.mark);
  // The tag keeps the attributes before this one and the parser stalls on
  // its name.
  if (records_attributes() && !parser_.attributes.reserve_one()) {
    return finish(kParseNoMemory, scan_.mark);
  }
  scan_.attribute = Attribute{};
  scan_.attribute.name = span_up_to_nul(text_, scan_.mark, end);
  scan_.phase = Phase::kAttrQuote;
  return kGoOn;
}

// Whatever stands between the name and the first quote is passed over, so
// neither '=' nor the absence of stray words is required.
int Step::attribute_quote() {
  std::size_t at = find(scan_.scanned, [](char c) { return is_quote(c) || c == '>'; });
  scan_.scanned = at;
  if (at == size_) return wait(scan_.step_start);
  if (text_[at] == '>') return finish(kParseIncomplete, scan_.mark);
  scan_.quote_at = at;
  scan_.phase = Phase::kAttrValue;
  scan_.scanned = at + 1;
  return kGoOn;
}

// The value ends at the next unescaped quote of the kind that opened it;
// backslashes stay in it.  With mixed quotes this quote may lie beyond the
// tag's closing '>', even beyond the text so far: the step then waits.
int Step::attribute_value() {
  char quote = text_[scan_.quote_at];
  std::size_t at = scan_.scanned;
  for (;;) {
    at = find_char(at, quote);
    if (at == size_ || text_[at - 1] != '\\') break;
    ++at;
  }
  scan_.scanned = at;
  if (at == size_) return wait(scan_.step_start);
  scan_.attribute.value = span_up_to_nul(text_, scan_.quote_at + 1, at);
  if (records_attributes()) {
    parser_.attributes.push_back(scan_.attribute);  // into the room made for it
    ++scan_.tag.attribute_count;
  }
  parser_.state = 2;
  scan_.phase = Phase::kAttrLead;
  scan_.scanned = at + 1;
  return kGoOn;
}

// After the attributes: one '?' is stepped over; '>' leads to the data, '/'
// (with a '>' directly after it) ends a tag without data, and anything else
// is left under the position, where the parser stalls.
int Step::tag_end() {
  std::size_t at = scan_.mark;
  if (text_[at] == '?' && ++at == size_) return wait(scan_.step_start);
  if (text_[at] == '>') {
    scan_.mark = at + 1;
    scan_.phase = Phase::kData;
    scan_.scanned = at + 1;
    return kGoOn;
  }
  if (text_[at] == '/') {
    if (at + 1 == size_) return wait(scan_.step_start);
    return finish(kParseDone, text_[at + 1] == '>' ? at + 2 : at + 1);
  }
  return finish(kParseDone, at);
}

// The data is the raw text up to the next '<'; an empty one is no data.
int Step::data() {
  std::size_t end = find_char(scan_.scanned, '<');
  scan_.scanned = end;
  if (end == size_) return wait(scan_.step_start);
  std::size_t start = scan_.mark;
  scan_.tag.data = {static_cast<TextIndex>(start), static_cast<TextIndex>(end - start)};
  return finish(kParseDone, end);
}

}  // namespace

int parse(Parser& parser, std::string_view piece) noexcept {
  if (!append_text(parser, piece)) return kParseNoMemory;
  if (parser.scope == ParseScope::kTextOnly) return kParseDone;
  for (;;) {
    if (parser.settled) return kParseDone;
    int result = Step(parser).run();
    if (parser.state != 1) return result;
  }
}

}  // namespace zv
