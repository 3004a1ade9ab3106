// The choice of edition: from the user's locale to a language code, and from a language code
// to the resource identifier of the edition that runs.
#ifndef LAUNCHER_LANGUAGE_H_
#define LAUNCHER_LANGUAGE_H_

#include <stdint.h>

// A language: 7 German, 9 English, 10 Spanish, 16 Italian, 1036 French. Every other value is
// valid too and selects the English edition.
typedef uint32_t LanguageCode;

// Integer resource name of an edition under the "BINARYDATA" type.
typedef uint16_t PayloadId;

constexpr PayloadId kEnglishPayload = 129;
constexpr PayloadId kFrenchPayload = 131;
constexpr PayloadId kItalianPayload = 132;
constexpr PayloadId kGermanPayload = 133;
constexpr PayloadId kSpanishPayload = 134;

// The code of a LANGID: the whole 16-bit value is compared, so a regional variant that is not
// listed gets English even when its primary language has an edition.
LanguageCode LanguageFromLangId(uint16_t lang_id);

// The edition of a code; only the four exact values 7, 10, 16 and 1036 select other than English.
PayloadId PayloadIdForLanguage(LanguageCode language);

#endif  // LAUNCHER_LANGUAGE_H_
