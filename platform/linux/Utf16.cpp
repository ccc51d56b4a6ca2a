#include "platform/linux/Utf16.h"

#include <array>
#include <cstddef>

namespace argb::platform {
namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kSupplementaryFirst = 0x10000;
constexpr char32_t kCodePointLast = 0x10FFFF;
constexpr char32_t kSurrogatePayloadMask = 0x3FF;
constexpr unsigned kSurrogatePayloadBits = 10;

// UTF-8 by sequence length (index 0 is a one-byte sequence): the largest code point that fits,
// the fixed bits of the lead byte and the mask that selects them.
constexpr std::size_t kLongestSequence = 4;
constexpr std::array<char32_t, kLongestSequence> kLargestCodePoint = {0x7F, 0x7FF, 0xFFFF,
                                                                      kCodePointLast};
constexpr std::array<unsigned char, kLongestSequence> kLeadMark = {0x00, 0xC0, 0xE0, 0xF0};
constexpr std::array<unsigned char, kLongestSequence> kLeadMask = {0x80, 0xE0, 0xF0, 0xF8};
constexpr unsigned char kContinuationMark = 0x80;
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned kContinuationPayloadBits = 6;
constexpr char32_t kContinuationPayload = 0x3F;

bool isSurrogate(char32_t unit) {
  return unit >= kHighSurrogateFirst && unit <= kSurrogateLast;
}
bool isHighSurrogate(char32_t unit) {
  return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}

std::size_t utf8Length(char32_t codePoint) {
  std::size_t length = 1;
  while (length < kLongestSequence && codePoint > kLargestCodePoint[length - 1]) ++length;
  return length;
}

void appendUtf8(std::string& out, char32_t codePoint) {
  const std::size_t length = utf8Length(codePoint);
  unsigned shift = static_cast<unsigned>(length - 1) * kContinuationPayloadBits;
  out.push_back(static_cast<char>(kLeadMark[length - 1] | (codePoint >> shift)));
  while (shift > 0) {
    shift -= kContinuationPayloadBits;
    out.push_back(
        static_cast<char>(kContinuationMark | ((codePoint >> shift) & kContinuationPayload)));
  }
}

// Length of the UTF-8 sequence that `lead` starts (0: it starts none), with the lead's payload.
std::size_t sequenceLength(unsigned char lead, char32_t& payload) {
  for (std::size_t length = 1; length <= kLongestSequence; ++length) {
    if ((lead & kLeadMask[length - 1]) == kLeadMark[length - 1]) {
      payload = lead & static_cast<unsigned char>(~kLeadMask[length - 1]);
      return length;
    }
  }
  return 0;
}

}  // namespace

std::optional<std::string> utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t codePoint = text[i];
    if (isSurrogate(codePoint)) {
      if (!isHighSurrogate(codePoint) || i + 1 == text.size()) return std::nullopt;
      const char32_t low = text[++i];
      if (!isSurrogate(low) || isHighSurrogate(low)) return std::nullopt;
      codePoint =
          kSupplementaryFirst + (((codePoint & kSurrogatePayloadMask) << kSurrogatePayloadBits) |
                                 (low & kSurrogatePayloadMask));
    }
    appendUtf8(out, codePoint);
  }
  return out;
}

std::optional<std::u16string> utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = sequenceLength(static_cast<unsigned char>(text[i]), codePoint);
    if (length == 0 || length > text.size() - i) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & kContinuationMask) != kContinuationMark) return std::nullopt;
      codePoint = (codePoint << kContinuationPayloadBits) | (next & kContinuationPayload);
    }
    // Overlong forms, encoded surrogates and values past the last code point are ill-formed.
    if (codePoint > kCodePointLast || utf8Length(codePoint) != length || isSurrogate(codePoint)) {
      return std::nullopt;
    }
    if (codePoint >= kSupplementaryFirst) {
      const char32_t offset = codePoint - kSupplementaryFirst;
      out.push_back(static_cast<char16_t>(kHighSurrogateFirst + (offset >> kSurrogatePayloadBits)));
      out.push_back(static_cast<char16_t>(kLowSurrogateFirst + (offset & kSurrogatePayloadMask)));
    } else {
      out.push_back(static_cast<char16_t>(codePoint));
    }
    i += length;
  }
  return out;
}

}  // namespace argb::platform
