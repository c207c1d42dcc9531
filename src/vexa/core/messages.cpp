#include "vexa/core/messages.h"

#include <cstdlib>

namespace vexa {

namespace {

std::string gWords[kMsgLanguageCount][kMsgWordCount];

const struct AutoFill {
  AutoFill() { VXSetDefaultTranslationWords(); }
} gAutoFill;

const char* EnvOrNull(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

void VXSetDefaultTranslationWords() {
  for (int l = msEnglish; l <= msGreek; ++l)
    for (int w = 0; w < kMsgWordCount; ++w) gWords[l][w] = detail::kBuiltinWords[l - msEnglish][w];
}

void VXSetTranslationWord(TMsgLanguage language, TMsgLanguageWords word, const std::string& text) {
  if (language < kMsgLanguageCount && word < kMsgWordCount) gWords[language][word] = text;
}

std::string vxmsg(TMsgLanguageWords word, TMsgLanguage language) {
  if (word >= kMsgWordCount || language >= kMsgLanguageCount) return {};
  if (language == msSystem) return gWords[VXSystemLanguage()][word];
  const std::string& s = gWords[language][word];
  return s.empty() ? gWords[msEnglish][word] : s;
}

TMsgLanguage VXLanguageFromLocale(const std::string& locale) {
  std::string lang = locale.substr(0, locale.find_first_of("_.@"));
  if (lang == "de") return msGerman;
  if (lang == "el") return msGreek;
  if (lang == "es") return msSpanish;
  if (lang == "fr") return msFrench;
  if (lang == "it") return msItalian;
  if (lang == "pt") return msPortuguese;
  return msEnglish;
}

TMsgLanguage VXSystemLanguage() {
  const char* v = EnvOrNull("LC_ALL");
  if (!v) v = EnvOrNull("LC_MESSAGES");
  if (!v) v = EnvOrNull("LANG");
  return v ? VXLanguageFromLocale(v) : msEnglish;
}

}  // namespace vexa
