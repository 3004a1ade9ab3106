// The choice of edition: LANGID to language code, language code to payload.
#include "language.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// The LANGIDs that have an edition of their own, written out here independently of the
// launcher's table: 5 German, 20 Spanish, 6 French and 2 Italian.
const std::map<uint16_t, LanguageCode>& ListedLangIds() {
  static const std::map<uint16_t, LanguageCode> table = {
      {0x0407, 7},    {0x0807, 7},    {0x0C07, 7},    {0x1007, 7},    {0x1407, 7},
      {0x040A, 10},   {0x080A, 10},   {0x0C0A, 10},   {0x100A, 10},   {0x140A, 10},
      {0x180A, 10},   {0x1C0A, 10},   {0x200A, 10},   {0x240A, 10},   {0x280A, 10},
      {0x2C0A, 10},   {0x300A, 10},   {0x340A, 10},   {0x380A, 10},   {0x3C0A, 10},
      {0x400A, 10},   {0x440A, 10},   {0x480A, 10},   {0x4C0A, 10},   {0x500A, 10},
      {0x040C, 1036}, {0x080C, 1036}, {0x0C0C, 1036}, {0x100C, 1036}, {0x140C, 1036},
      {0x180C, 1036}, {0x0410, 16},   {0x0810, 16},
  };
  return table;
}

TEST(LanguageFromLangId, EveryLangIdGivesItsListedCodeOrEnglish) {
  ASSERT_EQ(ListedLangIds().size(), 33u);
  int mismatches = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    const auto listed = ListedLangIds().find(static_cast<uint16_t>(id));
    const LanguageCode expected = listed == ListedLangIds().end() ? 9 : listed->second;
    const LanguageCode got = LanguageFromLangId(static_cast<uint16_t>(id));
    if (got != expected && ++mismatches <= 20) {
      ADD_FAILURE() << "LANGID 0x" << std::hex << id << ": got " << std::dec << got << ", expected "
                    << expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(LanguageFromLangId, NamedLocalesReachTheirEditions) {
  struct Case {
    uint16_t lang_id;
    PayloadId payload;
  };
  const Case cases[] = {
      {0x0409, 129},                 // English (United States)
      {0x040A, 134},                 // Spanish (Spain), both sorts
      {0x0C0A, 134}, {0x0C0C, 131},  // French (Canada)
      {0x1C0C, 129},                 // an unlisted French variant
      {0x540A, 129},                 // an unlisted Spanish variant
      {0x0816, 129},                 // Portuguese (Portugal)
      {0x0000, 129}, {0xFFFF, 129}, {0x0007, 129}, {0x000C, 129},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PayloadIdForLanguage(LanguageFromLangId(c.lang_id)), c.payload)
        << "LANGID 0x" << std::hex << c.lang_id;
  }
}

TEST(PayloadIdForLanguage, OnlyFourExactCodesLeaveEnglish) {
  struct Case {
    LanguageCode code;
    PayloadId payload;
  };
  const Case cases[] = {
      {7, 133},          {10, 134},         {16, 132},         {1036, 131},       {9, 129},
      {0, 129},          {1031, 129},       {12, 129},         {6, 129},          {8, 129},
      {11, 129},         {15, 129},         {17, 129},         {1035, 129},       {1037, 129},
      {0x00010007, 129}, {0x0001000A, 129}, {0x00010010, 129}, {0x0001040C, 129}, {0x80000007, 129},
      {0xFFFF0010, 129}, {0xFFFFFFFF, 129}, {0xFFFFFFF9, 129}, {130, 129},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PayloadIdForLanguage(c.code), c.payload) << "code 0x" << std::hex << c.code;
  }
}

// Codes whose low 16 bits are an edition's code select English unless the high bits are 0: no
// mask, sign or range lets another value through.
TEST(PayloadIdForLanguage, HighBitsAreCompared) {
  const std::map<LanguageCode, PayloadId> editions = {{7, 133}, {10, 134}, {16, 132}, {1036, 131}};
  int mismatches = 0;
  for (const uint32_t high : {0x0000u, 0x0001u, 0x8000u, 0xFFFFu}) {
    for (uint32_t low = 0; low <= 0xFFFF; ++low) {
      const LanguageCode code = (high << 16) | low;
      const auto edition = editions.find(code);
      const PayloadId expected = edition == editions.end() ? 129 : edition->second;
      if (PayloadIdForLanguage(code) != expected && ++mismatches <= 20) {
        ADD_FAILURE() << "code 0x" << std::hex << code;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
