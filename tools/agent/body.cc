#include "body.h"

#include <algorithm>

#include "document.h"

namespace zvagent {
namespace {

constexpr std::string_view kUnit =
    "<line>0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNO</line>";
static_assert(kUnit.size() == 64);
constexpr std::string_view kPadOpen = "<pad>", kPadClose = "</pad>";
// Units held at once by a repeated part: big enough for few system calls.
constexpr std::uint64_t kUnitsHeld = 1024;

std::string bulk_prefix() {
  return std::string(kDeclaration) +
         "<transaction><header><method>Response</method><subclass>Bulk</subclass></header><data>";
}
constexpr std::string_view kSuffix = "</data></transaction>";

}  // namespace

void ReplyStream::add(std::string text) {
  size_ += text.size();
  if (text.empty()) return;
  // Joined to a single text before it, so that a header and a short body
  // leave in one write.
  if (!parts_.empty() && parts_.back().length == parts_.back().text.size()) {
    parts_.back().text += text;
    parts_.back().length = parts_.back().text.size();
    return;
  }
  std::uint64_t length = text.size();
  parts_.push_back({std::move(text), length});
}

void ReplyStream::add_repeated(std::string_view unit, std::uint64_t count) {
  if (unit.empty() || count == 0) return;
  std::string text;
  for (std::uint64_t i = 0; i < std::min(count, kUnitsHeld); ++i) text += unit;
  size_ += unit.size() * count;
  parts_.push_back({std::move(text), unit.size() * count});
}

std::string_view ReplyStream::next(std::uint64_t max) {
  while (part_ < parts_.size() && offset_ == parts_[part_].length) {
    ++part_;
    offset_ = 0;
  }
  if (part_ == parts_.size() || max == 0) return {};
  const Part& part = parts_[part_];
  std::uint64_t at = offset_ % part.text.size();
  std::uint64_t take = std::min({max, part.length - offset_, part.text.size() - at});
  offset_ += take;
  return std::string_view(part.text).substr(at, take);
}

std::uint64_t bulk_minimum() {
  return bulk_prefix().size() + kPadOpen.size() + kPadClose.size() + kSuffix.size();
}

void bulk_body(ReplyStream& stream, std::uint64_t size) {
  std::uint64_t middle = size - bulk_minimum();  // pad content plus the units
  std::uint64_t units = middle / kUnit.size();
  std::string head = bulk_prefix();
  head += kPadOpen;
  head.append(middle % kUnit.size(), 'x');
  head += kPadClose;
  stream.add(std::move(head));
  stream.add_repeated(kUnit, units);
  stream.add(std::string(kSuffix));
}

}  // namespace zvagent
