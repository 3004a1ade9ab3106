// The choice of edition by language.
#include "language.h"

namespace {

constexpr LanguageCode kGerman = 7;
constexpr LanguageCode kEnglish = 9;
constexpr LanguageCode kSpanish = 10;
constexpr LanguageCode kItalian = 16;
constexpr LanguageCode kFrench = 1036;  // The full LANGID of French (France), not its primary 12.

}  // namespace

LanguageCode LanguageFromLangId(uint16_t lang_id) {
  switch (lang_id) {
    case 0x0407:  // Germany
    case 0x0807:  // Switzerland
    case 0x0C07:  // Austria
    case 0x1007:  // Luxembourg
    case 0x1407:  // Liechtenstein
      return kGerman;
    case 0x040A:  // Spain, traditional sort
    case 0x080A:  // Mexico
    case 0x0C0A:  // Spain, modern sort
    case 0x100A:  // Guatemala
    case 0x140A:  // Costa Rica
    case 0x180A:  // Panama
    case 0x1C0A:  // Dominican Republic
    case 0x200A:  // Venezuela
    case 0x240A:  // Colombia
    case 0x280A:  // Peru
    case 0x2C0A:  // Argentina
    case 0x300A:  // Ecuador
    case 0x340A:  // Chile
    case 0x380A:  // Uruguay
    case 0x3C0A:  // Paraguay
    case 0x400A:  // Bolivia
    case 0x440A:  // El Salvador
    case 0x480A:  // Honduras
    case 0x4C0A:  // Nicaragua
    case 0x500A:  // Puerto Rico
      return kSpanish;
    case 0x040C:  // France
    case 0x080C:  // Belgium
    case 0x0C0C:  // Canada
    case 0x100C:  // Switzerland
    case 0x140C:  // Luxembourg
    case 0x180C:  // Monaco
      return kFrench;
    case 0x0410:  // Italy
    case 0x0810:  // Switzerland
      return kItalian;
    default:
      return kEnglish;
  }
}

PayloadId PayloadIdForLanguage(LanguageCode language) {
  switch (language) {
    case kGerman:
      return kGermanPayload;
    case kSpanish:
      return kSpanishPayload;
    case kItalian:
      return kItalianPayload;
    case kFrench:
      return kFrenchPayload;
    default:
      return kEnglishPayload;
  }
}
