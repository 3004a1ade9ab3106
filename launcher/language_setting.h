// The installed product's own language setting, read from its registry key.
#ifndef LAUNCHER_LANGUAGE_SETTING_H_
#define LAUNCHER_LANGUAGE_SETTING_H_

#include "language.h"
#include "os_seam.h"

// The product's key, relative to either root.
constexpr char kProductKeyPath[] =
    "Software\\Velmora\\Orchardvale\\{5A0C3E71-92B4-4F6D-8E27-C1D94B60A3F8}\\";
constexpr char kLanguageValueName[] = "Language";

// Reads "Language" under root (falling back to HKEY_LOCAL_MACHINE on its own) into *language:
// at most 4 bytes of any type, little-endian. 0 when a value was read, -1 otherwise; after -1
// *language is not to be used.
int ReadLanguageSetting(HKEY root, LanguageCode* language);

#endif  // LAUNCHER_LANGUAGE_SETTING_H_
