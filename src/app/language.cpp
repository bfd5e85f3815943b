#include "app/language.h"

#include <cstddef>

namespace stubframework::app {

namespace {

const LanguageRow kLanguageTable[kLanguageCount] = {
    {L"other", L"Other"},  // 0
    {L"en", L"English"},  // 1
    {L"fr", L"French"},  // 2
    {L"de", L"German"},  // 3
    {L"it", L"Italian"},  // 4
    {L"jp", L"Japanese"},  // 5
    {L"es", L"Spanish"},  // 6
    {L"pt", L"Portuguese"},  // 7
    {L"nl", L"Dutch"},  // 8
    {L"ko", L"Korean"},  // 9
    {L"ru", L"Russian"},  // 10
    {L"cs", L"Czech"},  // 11
    {L"zh", L"Simplified Chinese"},  // 12
    {L"tw", L"Traditional Chinese"},  // 13
    {L"af", L"Afrikaans"},  // 14
    {L"sq", L"Albanian"},  // 15
    {L"am", L"Amharic"},  // 16
    {L"ar", L"Arabic"},  // 17
    {L"hy", L"Armenian"},  // 18
    {L"as", L"Assamese"},  // 19
    {L"ba", L"Bashkir"},  // 20
    {L"eu", L"Basque"},  // 21
    {L"be", L"Belarusian"},  // 22
    {L"bn", L"Bengali"},  // 23
    {L"br", L"Breton"},  // 24
    {L"bs", L"Bosnian"},  // 25
    {L"bg", L"Bulgarian"},  // 26
    {L"ca", L"Catalan"},  // 27
    {L"co", L"Corsican"},  // 28
    {L"hr", L"Croatian"},  // 29
    {L"da", L"Danish"},  // 30
    {L"dv", L"Divehi"},  // 31
    {L"et", L"Estonian"},  // 32
    {L"fi", L"Finnish"},  // 33
    {L"fy", L"Frisian"},  // 34
    {L"gl", L"Galician"},  // 35
    {L"ka", L"Georgian"},  // 36
    {L"el", L"Greek"},  // 37
    {L"kl", L"Greenlandic"},  // 38
    {L"gu", L"Gujarati"},  // 39
    {L"ha", L"Hausa"},  // 40
    {L"he", L"Hebrew"},  // 41
    {L"hi", L"Hindi"},  // 42
    {L"hu", L"Hungarian"},  // 43
    {L"is", L"Icelandic"},  // 44
    {L"ig", L"Igbo"},  // 45
    {L"id", L"Indonesian"},  // 46
    {L"iu", L"Inuktitut"},  // 47
    {L"ga", L"Irish"},  // 48
    {L"kn", L"Kannada"},  // 49
    {L"ks", L"Kashmiri"},  // 50
    {L"kk", L"Kazakh"},  // 51
    {L"km", L"Khmer"},  // 52
    {L"rw", L"Kinyarwanda"},  // 53
    {L"ky", L"Kyrgyz"},  // 54
    {L"lo", L"Lao"},  // 55
    {L"lv", L"Latvian"},  // 56
    {L"lt", L"Lithuanian"},  // 57
    {L"lb", L"Luxembourgish"},  // 58
    {L"mk", L"Macedonian"},  // 59
    {L"ms", L"Malay"},  // 60
    {L"ml", L"Malayalam"},  // 61
    {L"mt", L"Maltese"},  // 62
    {L"mi", L"Maori"},  // 63
    {L"mr", L"Marathi"},  // 64
    {L"mn", L"Mongolian"},  // 65
    {L"ne", L"Nepali"},  // 66
    {L"no", L"Norwegian"},  // 67
    {L"oc", L"Occitan"},  // 68
    {L"or", L"Oriya"},  // 69
    {L"ps", L"Pashto"},  // 70
    {L"fa", L"Persian"},  // 71
    {L"pl", L"Polish"},  // 72
    {L"pa", L"Punjabi"},  // 73
    {L"qu", L"Quechua"},  // 74
    {L"ro", L"Romanian"},  // 75
    {L"rm", L"Romansh"},  // 76
    {L"se", L"Sami"},  // 77
    {L"sa", L"Sanskrit"},  // 78
    {L"gd", L"Scottish Gaelic"},  // 79
    {L"sr", L"Serbian"},  // 80
    {L"sd", L"Sindhi"},  // 81
    {L"si", L"Sinhalese"},  // 82
    {L"sk", L"Slovak"},  // 83
    {L"sl", L"Slovenian"},  // 84
    {L"st", L"Sotho"},  // 85
    {L"sw", L"Swahili"},  // 86
    {L"sv", L"Swedish"},  // 87
    {L"tg", L"Tajik"},  // 88
    {L"ta", L"Tamil"},  // 89
    {L"tt", L"Tatar"},  // 90
    {L"te", L"Telugu"},  // 91
    {L"th", L"Thai"},  // 92
    {L"bo", L"Tibetan"},  // 93
    {L"tn", L"Tswana"},  // 94
    {L"tr", L"Turkish"},  // 95
    {L"tk", L"Turkmen"},  // 96
    {L"ug", L"Uighur"},  // 97
    {L"uk", L"Ukrainian"},  // 98
    {L"ur", L"Urdu"},  // 99
    {L"uz", L"Uzbek"},  // 100
    {L"vi", L"Vietnamese"},  // 101
    {L"cy", L"Welsh"},  // 102
    {L"wo", L"Wolof"},  // 103
    {L"xh", L"Xhosa"},  // 104
    {L"yi", L"Yiddish"},  // 105
    {L"yo", L"Yoruba"},  // 106
    {L"zu", L"Zulu"},  // 107
};

struct IdToIndex {
  unsigned short id;
  int index;
};

// Whole language ids that decide before the primary language does.
const IdToIndex kFullIds[] = {
    {1033, 1}, {1036, 2}, {1031, 3}, {1040, 4}, {1041, 5}, {2058, 6}, {3082, 6}, {1046, 7}, {2070, 7},
    {1043, 8}, {1042, 9}, {1049, 10}, {1029, 11}, {2052, 12}, {4100, 12}, {1028, 13}, {3076, 13}, {5124, 13},
};

// Primary language (low 10 bits) to row.
const IdToIndex kPrimaryLanguages[] = {
    {1, 17}, {2, 26}, {3, 27}, {4, 12}, {6, 30}, {7, 3}, {8, 37}, {9, 1}, {10, 6}, {11, 33}, {12, 2},
    {13, 41}, {14, 43}, {15, 44}, {16, 4}, {17, 5}, {19, 8}, {20, 67}, {21, 72}, {22, 7}, {23, 76}, {24, 75},
    {25, 10}, {27, 83}, {28, 15}, {29, 87}, {30, 92}, {31, 95}, {32, 99}, {33, 46}, {34, 98}, {35, 22},
    {36, 84}, {37, 32}, {38, 56}, {39, 57}, {40, 88}, {41, 71}, {42, 101}, {43, 18}, {45, 21}, {47, 59},
    {50, 94}, {52, 104}, {53, 107}, {54, 14}, {55, 36}, {57, 42}, {58, 62}, {59, 77}, {60, 48}, {62, 60},
    {63, 51}, {64, 54}, {65, 86}, {66, 96}, {67, 100}, {68, 90}, {69, 23}, {70, 73}, {71, 39}, {72, 69},
    {73, 89}, {74, 91}, {75, 49}, {76, 61}, {77, 19}, {78, 64}, {79, 78}, {80, 65}, {81, 93}, {82, 102},
    {83, 52}, {84, 55}, {86, 35}, {89, 81}, {91, 82}, {93, 47}, {94, 16}, {96, 50}, {97, 66}, {98, 34},
    {99, 70}, {101, 31}, {104, 40}, {106, 106}, {107, 74}, {108, 85}, {109, 20}, {110, 58}, {111, 38},
    {112, 45}, {120, 105}, {126, 24}, {128, 97}, {129, 63}, {130, 68}, {131, 28}, {135, 53}, {136, 103},
    {145, 79},
};

// Primary language 26 covers Serbian, Croatian and Bosnian: the whole id decides.
const IdToIndex kPrimary26Ids[] = {
    {1050, 80}, {2074, 80}, {3098, 80}, {6170, 80}, {7194, 80}, {9242, 80}, {10266, 80}, {11290, 80},
    {12314, 80}, {5146, 25}, {8218, 25}, {4122, 29},
};

constexpr unsigned kPrimarySerboCroatian = 26;

template <std::size_t N>
bool Lookup(const IdToIndex (&table)[N], unsigned id, int& index) {
  for (const IdToIndex& row : table) {
    if (row.id == id) {
      index = row.index;
      return true;
    }
  }
  return false;
}

}  // namespace

const LanguageRow& LanguageAt(int index) {
  return kLanguageTable[index >= 0 && index < kLanguageCount ? index : 0];
}

int LanguageIndexFromId(unsigned lang_id) {
  int index = 0;
  if (Lookup(kFullIds, lang_id, index)) return index;
  unsigned primary = lang_id & 0x3FF;
  if (primary == kPrimarySerboCroatian) return Lookup(kPrimary26Ids, lang_id, index) ? index : 0;
  if (Lookup(kPrimaryLanguages, primary, index)) return index;
  return 0;
}

int LanguageIndexFromCode(const std::wstring& code) {
  for (int index = 1; index < kLanguageCount; ++index) {
    if (code == kLanguageTable[index].code) return index;
  }
  return 0;
}

int NarrowInstallLanguage(int index) {
  switch (index) {
    case 1:   // English
    case 2:   // French
    case 3:   // German
    case 5:   // Japanese
    case 13:  // Traditional Chinese
      return index;
    default:
      return 1;
  }
}

}  // namespace stubframework::app
