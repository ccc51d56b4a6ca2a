#include "field-check/ConsoleRules.h"

#include <cstdio>

#include "platform/ConsoleKeyPress.h"

namespace argb::fieldcheck {
namespace {

constexpr char kNoKey[] = "no key within 10 s";

std::string codeText(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(code));
  return text;
}

std::string readText(const KeyRead& read) {
  return "read " + codeText(read.code) +
         (read.anotherCodeWaiting ? ", another code still waiting" : ", nothing left waiting");
}

}  // namespace

CheckResult judgeCodePage(std::uint32_t codePage, const std::string& errorText, bool roundTrips) {
  const std::string name = "console code page";
  if (codePage == 0)
    return {name, Verdict::kNotApplicable, "no console", "the texts go to the system code page"};
  const std::string value = "code page " + std::to_string(codePage) + ", \"" + errorText + "\"";
  return {name, roundTrips ? Verdict::kPass : Verdict::kFail, value,
          roundTrips ? "the system's text shows whole in the console's code page"
                     : "characters of the system's text are lost in the console's code page"};
}

CheckResult judgeArrowKey(const std::optional<KeyRead>& read) {
  const std::string name = "arrow key";
  if (!read) return {name, Verdict::kNotApplicable, kNoKey, "press keys when asked to measure"};
  const bool twoCodeKey =
      read->code == platform::kExtendedKeyPrefix || read->code == platform::kFunctionKeyPrefix;
  if (!twoCodeKey)
    return {name, Verdict::kFail, readText(*read), "not the first code of an arrow key"};
  return {name, read->anotherCodeWaiting ? Verdict::kFail : Verdict::kPass, readText(*read),
          read->anotherCodeWaiting ? "its second code would answer the next question"
                                   : "both codes taken as one key press"};
}

CheckResult judgeAGraveKey(std::optional<int> expectedCode, const std::optional<KeyRead>& read) {
  const std::string name = "key typed as a-grave";
  if (!expectedCode)
    return {name, Verdict::kNotApplicable, "the input code page has no a-grave", "cannot be typed"};
  if (!read) return {name, Verdict::kNotApplicable, kNoKey, "press keys when asked to measure"};
  const std::string value = readText(*read) + ", expected " + codeText(*expectedCode);
  if (read->code != *expectedCode) return {name, Verdict::kFail, value, "read as another key"};
  return {name, read->anotherCodeWaiting ? Verdict::kFail : Verdict::kPass, value,
          read->anotherCodeWaiting ? "read as more than one key press" : "read as one key press"};
}

}  // namespace argb::fieldcheck
