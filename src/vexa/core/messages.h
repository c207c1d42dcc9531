// Translatable words of the dialogs: one process-wide table indexed by language and
// word. vxmsg(word, language) falls back to English when a chosen language has no
// text; msSystem picks the row from the user's locale (LC_ALL, LC_MESSAGES, LANG).
// Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

enum TMsgLanguage : uint8_t {
  msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese, msGreek, msUser
};
constexpr int kMsgLanguageCount = 9;

enum TMsgLanguageWords : uint8_t {
  VXMSG_PREVIEW, VXMSG_SOURCE, VXMSG_RESULT, VXMSG_OK, VXMSG_CANCEL, VXMSG_LOCKPREVIEW,
  VXMSG_COPYRESULTTOSOURCE, VXMSG_CONTRAST, VXMSG_BRIGHTNESS, VXMSG_HUE, VXMSG_SATURATION, VXMSG_VALUE,
  VXMSG_BASECOLOR, VXMSG_NEWCOLOR, VXMSG_LUMINOSITY, VXMSG_RED, VXMSG_GREEN, VXMSG_BLUE, VXMSG_FILTERVALUES,
  VXMSG_PRESETS, VXMSG_DIVISOR, VXMSG_LOAD, VXMSG_SAVE, VXMSG_EQUALIZATION, VXMSG_THRESHOLD, VXMSG_EQUALIZE,
  VXMSG_HISTOGRAM, VXMSG_GRAY, VXMSG_LIGHT, VXMSG_LEFT, VXMSG_TOP, VXMSG_WIDTH, VXMSG_HEIGHT, VXMSG_COLOR,
  VXMSG_SOURCEIMAGEQUANTITY, VXMSG_LENS, VXMSG_REFRACTION, VXMSG_PARAMETERSPREVIEW, VXMSG_QUALITY,
  VXMSG_DCTMETHOD, VXMSG_SMOOTHINGFACTOR, VXMSG_GRAYSCALE, VXMSG_OPTIMALHUFFMAN, VXMSG_ORIGINALSIZE,
  VXMSG_COMPRESSEDSIZE, VXMSG_ADVANCED, VXMSG_PROGRESSIVE, VXMSG_COMPRESSION, VXMSG_IMAGEINDEX,
  VXMSG_PHOTOMETRIC, VXMSG_SCANNDEDDOCUMENTINFO, VXMSG_NAME, VXMSG_DESCRIPTION, VXMSG_PAGENAME,
  VXMSG_PAGENUMBER, VXMSG_OF, VXMSG_HORIZPOSITIONINCH, VXMSG_VERTPOSITIONINCH, VXMSG_COLORS, VXMSG_TRANSPARENT,
  VXMSG_TRANSPARENTCOLOR, VXMSG_INTERLACED, VXMSG_BACKGROUND, VXMSG_HORIZPOSITION, VXMSG_VERTPOSITION,
  VXMSG_DELAYTIME, VXMSG_FILTER, VXMSG_WAVE, VXMSG_AMPLITUDE, VXMSG_WAVELENGTH, VXMSG_PHASE, VXMSG_REFLECTIVE,
  VXMSG_USERFILTER, VXMSG_MORPHFILTER, VXMSG_WINDOWSIZE, VXMSG_MAXIMUM, VXMSG_MINIMUM, VXMSG_OPEN, VXMSG_CLOSE,
  VXMSG_ROTATE, VXMSG_FLIP, VXMSG_FLIPHOR, VXMSG_FLIPVER, VXMSG_FREQUENCYDOMAINIMAGE,
  VXMSG_SELECTTHEREGIONTOCLEAR, VXMSG_CLEAR, VXMSG_RESET
};
constexpr int kMsgWordCount = 87;

/// Fills the English row and the six translated rows with the built-in words.
/// Runs once automatically before main; calling it again restores the built-ins.
void VXSetDefaultTranslationWords();
/// Stores a text for any language, msSystem and msUser included.
void VXSetTranslationWord(TMsgLanguage language, TMsgLanguageWords word, const std::string& text);
std::string vxmsg(TMsgLanguageWords word, TMsgLanguage language);

/// The row msSystem uses for a POSIX locale name such as "fr_FR.UTF-8" (msEnglish
/// for anything unknown).
TMsgLanguage VXLanguageFromLocale(const std::string& locale);
/// The row of the current user's locale, from LC_ALL, LC_MESSAGES, then LANG.
TMsgLanguage VXSystemLanguage();

namespace detail {
/// Built-in words, rows msEnglish..msGreek (index = language - msEnglish).
extern const char* const kBuiltinWords[7][kMsgWordCount];
}  // namespace detail

}  // namespace vexa
