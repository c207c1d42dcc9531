#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>
#include <string>

#include "vexa/core/messages.h"

using namespace vexa;

namespace {
// Sets the locale variables for one test and restores them afterwards.
class LocaleScope {
 public:
  explicit LocaleScope(const char* lang) {
    for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* old = std::getenv(v);
      saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
      unsetenv(v);
    }
    if (lang) setenv("LANG", lang, 1);
  }
  ~LocaleScope() {
    for (auto& [k, v] : saved_) v ? setenv(k, v->c_str(), 1) : unsetenv(k);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};
}  // namespace

TEST(Messages, EnglishWordsAreBuiltIn) {
  EXPECT_EQ(vxmsg(VXMSG_PREVIEW, msEnglish), "Preview");
  EXPECT_EQ(vxmsg(VXMSG_SELECTTHEREGIONTOCLEAR, msEnglish), "Select the region to clean");
  EXPECT_EQ(vxmsg(VXMSG_RESET, msEnglish), "Reset");
}

TEST(Messages, EveryLanguageHasEveryWord) {
  for (int l = msEnglish; l <= msGreek; ++l)
    for (int w = 0; w < kMsgWordCount; ++w)
      EXPECT_FALSE(std::string(detail::kBuiltinWords[l - msEnglish][w]).empty()) << l << " " << w;
  EXPECT_NE(vxmsg(VXMSG_SAVE, msGerman), "Save");
  EXPECT_NE(vxmsg(VXMSG_CANCEL, msGreek), "Cancel");
}

TEST(Messages, UserRowFallsBackToEnglishUntilSet) {
  EXPECT_EQ(vxmsg(VXMSG_OK, msUser), "OK");
  VXSetTranslationWord(msUser, VXMSG_OK, "Vai");
  EXPECT_EQ(vxmsg(VXMSG_OK, msUser), "Vai");
  VXSetTranslationWord(msUser, VXMSG_OK, "");
}

TEST(Messages, EmptiedWordFallsBackToEnglish) {
  std::string italian = vxmsg(VXMSG_SAVE, msItalian);
  VXSetTranslationWord(msItalian, VXMSG_SAVE, "");
  EXPECT_EQ(vxmsg(VXMSG_SAVE, msItalian), "Save");
  VXSetDefaultTranslationWords();
  EXPECT_EQ(vxmsg(VXMSG_SAVE, msItalian), italian);
}

TEST(Messages, SystemRowFollowsTheLocale) {
  {
    LocaleScope fr("fr_FR.UTF-8");
    EXPECT_EQ(vxmsg(VXMSG_CANCEL, msSystem), vxmsg(VXMSG_CANCEL, msFrench));
  }
  {
    LocaleScope ja("ja_JP.UTF-8");
    EXPECT_EQ(vxmsg(VXMSG_CANCEL, msSystem), "Cancel");
  }
  {
    LocaleScope none(nullptr);
    setenv("LC_MESSAGES", "el_GR.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(VXSystemLanguage(), msGreek);  // LC_MESSAGES wins over LANG
    setenv("LC_ALL", "pt_BR", 1);
    EXPECT_EQ(VXSystemLanguage(), msPortuguese);
  }
  EXPECT_EQ(VXLanguageFromLocale("C"), msEnglish);
  EXPECT_EQ(VXLanguageFromLocale("es"), msSpanish);
}
