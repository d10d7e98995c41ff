#include "transport/form.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zv {

namespace {

// The encoded form of one byte, padded to four bytes so that the encoder
// copies every code with one fixed-size move and steps by its length: no
// branch on the byte's kind.  The padding byte holds the length.
struct Code {
  char text[3];
  unsigned char length;
};
static_assert(sizeof(Code) == 4);

// Classified by byte value rather than with <cctype>, whose answer for the
// bytes above 0x7F depends on the locale.
constexpr std::array<Code, 256> make_codes() {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::array<Code, 256> codes{};
  for (int byte = 0; byte < 256; ++byte) {
    bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9') || byte == '-';
    Code& code = codes[byte];
    if (kept || byte == ' ') {
      code = {{static_cast<char>(kept ? byte : '+'), 0, 0}, 1};
    } else {
      code = {{'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]}, 3};
    }
  }
  return codes;
}

constexpr std::array<Code, 256> kCodes = make_codes();

const Code& code_of(char c) { return kCodes[static_cast<unsigned char>(c)]; }

std::size_t encoded_length(std::string_view text) {
  // Four running sums let the additions overlap instead of queueing.
  std::size_t sums[4] = {0, 0, 0, 0};
  std::size_t at = 0;
  for (; at + 4 <= text.size(); at += 4) {
    for (int lane = 0; lane < 4; ++lane) sums[lane] += code_of(text[at + lane]).length;
  }
  for (; at < text.size(); ++at) sums[0] += code_of(text[at]).length;
  return sums[0] + sums[1] + sums[2] + sums[3];
}

// Encodes as much of [in, in_end) as fits whole in [out, out_end) and
// advances both.  The bulk goes through the four-byte moves, which may
// write up to three bytes past a short code: a run of count bytes is taken
// only while 3 * count + 1 bytes of room remain.  The last few codes are
// copied at their own length, so an exact fit is filled exactly.
void encode_fitting(const char*& in, const char* in_end, char*& out, char* out_end) {
  for (;;) {
    std::size_t room = static_cast<std::size_t>(out_end - out);
    std::size_t count =
        std::min(static_cast<std::size_t>(in_end - in), room >= 4 ? (room - 1) / 3 : 0);
    if (count == 0) break;
    for (const char* stop = in + count; in != stop; ++in) {
      const Code& code = code_of(*in);
      std::memcpy(out, &code, sizeof code);
      out += code.length;
    }
  }
  for (; in != in_end; ++in) {
    const Code& code = code_of(*in);
    if (code.length > static_cast<std::size_t>(out_end - out)) break;
    std::memcpy(out, code.text, code.length);
    out += code.length;
  }
}

}  // namespace

void http_encode(std::string_view text, Text& out) {
  std::size_t start = out.size();
  out.resize(start + encoded_length(text));
  const char* in = text.data();
  char* next = out.data() + start;
  encode_fitting(in, text.data() + text.size(), next, out.data() + out.size());
}

std::size_t http_form_length(const ParamList& list) {
  if (list.empty()) return 0;
  std::size_t length = 2 * list.size() - 1;  // each '=' and each '&' between pairs
  for (const Param& param : list) length += param.name.size() + encoded_length(param.value);
  return length;
}

void http_append_form(const ParamList& list, std::size_t form_length, Text& out) {
  std::size_t start = out.size();
  out.resize(start + form_length);
  FormPieces(list).write(out.data() + start, form_length);
}

std::size_t FormPieces::write(char* out, std::size_t room) {
  char* next = out;
  char* end = out + room;
  while (!done() && next != end) {
    const Param& param = list_[index_];
    if (part_ == Part::kSeparator) {
      if (index_ > 0) *next++ = '&';
      part_ = Part::kName;
    } else if (part_ == Part::kName) {
      std::size_t count =
          std::min(param.name.size() - offset_, static_cast<std::size_t>(end - next));
      if (count > 0) std::memcpy(next, param.name.data() + offset_, count);
      next += count;
      offset_ += count;
      if (offset_ == param.name.size()) {
        part_ = Part::kEquals;
        offset_ = 0;
      }
    } else if (part_ == Part::kEquals) {
      *next++ = '=';
      part_ = Part::kValue;
    } else {
      const char* in = param.value.data() + offset_;
      const char* in_end = param.value.data() + param.value.size();
      encode_fitting(in, in_end, next, end);
      offset_ = static_cast<std::size_t>(in - param.value.data());
      if (in != in_end) break;  // the next code does not fit this piece
      part_ = Part::kSeparator;
      offset_ = 0;
      ++index_;
    }
  }
  return static_cast<std::size_t>(next - out);
}

}  // namespace zv
