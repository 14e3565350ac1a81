// Code-page conversion on Linux through iconv, with Windows' code-page numbers and its
// default handling of characters that a code page lacks ('?').
#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/code_page_run.h"
#include "platform/posix/text_encoding.h"

namespace psrl::platform {
namespace posix {
namespace {

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";  // U+FFFD

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)

bool IsUtf8CodePage(uint32_t codePage) {
  // ANSI, OEM and thread ANSI are the system encoding, which is UTF-8 on Linux.
  return codePage == 65001 || codePage == 0 || codePage == 1 || codePage == 3;
}

std::optional<std::string> IconvName(uint32_t codePage) {
  switch (codePage) {
    case 20127:
      return "US-ASCII";
    case 54936:
      return "GB18030";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 874:
    case 437:
    case 850:
    case 852:
    case 855:
    case 857:
    case 869:
    case 932:
    case 936:
    case 949:
    case 950:
      return "CP" + std::to_string(codePage);
    default:
      break;
  }
  if ((codePage >= 1250 && codePage <= 1258) || (codePage >= 860 && codePage <= 866)) {
    return "CP" + std::to_string(codePage);
  }
  if (codePage >= 28591 && codePage <= 28605) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  return std::nullopt;
}

struct OpenConverter {
  uint32_t codePage;
  iconv_t handle;  // kNoConverter when the code page cannot be converted to
};

bool g_runActive = false;
std::vector<OpenConverter> g_converters;

void CloseConverter(iconv_t handle) {
  if (handle != kNoConverter) iconv_close(handle);
}

const char* NativeUtf16Name() {
  return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// The converter for `codePage`: kept for the rest of the run when a run is active.
iconv_t AcquireConverter(uint32_t codePage) {
  for (const auto& open : g_converters) {
    if (open.codePage == codePage) return open.handle;
  }
  const auto name = IconvName(codePage);
  const iconv_t handle = name ? iconv_open(name->c_str(), NativeUtf16Name()) : kNoConverter;
  if (g_runActive) g_converters.push_back({codePage, handle});
  return handle;
}

void ReleaseConverter(iconv_t handle) {
  if (!g_runActive) CloseConverter(handle);
}

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Converts `text` with `converter`; each character it cannot represent, and each lone
// surrogate, becomes '?', which is one byte in every supported code page.
bool ConvertWithIconv(iconv_t converter, std::u16string_view text, std::string& out) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::vector<char> chunk(256);
  size_t position = 0;
  while (position < text.size()) {
    // Convert up to the next lone surrogate, which iconv would reject as a whole.
    size_t end = position;
    while (end < text.size()) {
      const char16_t unit = text[end];
      if (!IsSurrogate(unit)) {
        ++end;
      } else if (unit <= 0xDBFF && end + 1 < text.size() && text[end + 1] >= 0xDC00 &&
                 text[end + 1] <= 0xDFFF) {
        end += 2;
      } else {
        break;
      }
    }
    auto* input = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + position));
    size_t inputLeft = (end - position) * sizeof(char16_t);
    while (inputLeft > 0) {
      char* output = chunk.data();
      size_t outputLeft = chunk.size();
      const size_t result = iconv(converter, &input, &inputLeft, &output, &outputLeft);
      out.append(chunk.data(), chunk.size() - outputLeft);
      if (result != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno != EILSEQ && errno != EINVAL) return false;
      // A character the code page lacks: one '?' for the whole character.
      const auto* unit = reinterpret_cast<const char16_t*>(input);
      const size_t skip = (IsSurrogate(*unit) && inputLeft >= 4) ? 4 : 2;
      out.push_back('?');
      input += skip;
      inputLeft -= skip;
    }
    position = end;
    if (position < text.size()) {
      out.push_back('?');  // the lone surrogate
      ++position;
    }
  }
  char* output = chunk.data();
  size_t outputLeft = chunk.size();
  if (iconv(converter, nullptr, nullptr, &output, &outputLeft) == static_cast<size_t>(-1)) {
    return false;
  }
  out.append(chunk.data(), chunk.size() - outputLeft);
  return true;
}

bool Convert(uint32_t codePage, std::u16string_view text, std::string& out) {
  if (IsUtf8CodePage(codePage)) {
    out = EncodeUtf8(text, kUtf8Replacement);
    return true;
  }
  const iconv_t converter = AcquireConverter(codePage);
  if (converter == kNoConverter) return false;
  const bool converted = ConvertWithIconv(converter, text, out);
  ReleaseConverter(converter);
  return converted;
}

}  // namespace

void CodePageBeginRun() { g_runActive = true; }

void CodePageEndRun() noexcept {
  for (const auto& open : g_converters) CloseConverter(open.handle);
  g_converters.clear();
  g_runActive = false;
}

}  // namespace posix

int32_t ConvertToCodePage(uint32_t codePage, const char16_t* text, char* out, int32_t outSize) {
  if (text == nullptr || outSize < 0) return 0;
  if (outSize == 0) out = nullptr;  // a size of 0 asks for the size needed
  try {
    std::string converted;
    if (!posix::Convert(codePage, std::u16string_view(text), converted)) return 0;
    const size_t needed = converted.size() + 1;
    if (needed > static_cast<size_t>(INT32_MAX)) return 0;
    if (out == nullptr) return static_cast<int32_t>(needed);
    if (needed > static_cast<size_t>(outSize)) return 0;
    std::memcpy(out, converted.data(), converted.size());
    out[converted.size()] = '\0';
    return static_cast<int32_t>(needed);
  } catch (...) {
    return 0;
  }
}

}  // namespace psrl::platform
