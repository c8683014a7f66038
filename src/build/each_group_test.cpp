#include "build/each_group.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SafeFolderNameTest, EveryNameWindowsRefusesBecomesOneItTakes) {
  const std::wstring longName(100, L'x');
  struct Row {
    const wchar_t* why;
    std::wstring name;
    std::wstring folder;
  } rows[] = {
      {L"as it stands", L"Workstations", L"Workstations"},
      {L"non-ASCII kept", L"Z\u00FCrich \u041A\u043B\u0438\u0435\u043D\u0442\u044B",
       L"Z\u00FCrich \u041A\u043B\u0438\u0435\u043D\u0442\u044B"},
      {L"a backslash is no level", L"Sales\\East", L"Sales_East"},
      {L"reserved characters", L"a<b>c:d\"e/f|g?h*i", L"a_b_c_d_e_f_g_h_i"},
      {L"control characters", L"tab\there\x01", L"tab_here_"},
      {L"trailing dots and spaces", L"Kiosk. . ", L"Kiosk"},
      {L"leading ones kept", L" .hidden", L" .hidden"},
      {L"nothing left", L". .", L"_"},
      {L"empty", L"", L"_"},
      {L"device name", L"CON", L"_CON"},
      {L"device name in lower case", L"lpt9", L"_lpt9"},
      {L"device name with an extension", L"nul.txt", L"_nul.txt"},
      {L"device name with a blank before the extension", L"Aux .log", L"_Aux .log"},
      {L"device name once made safe", L"COM1.", L"_COM1"},
      {L"no device name", L"CONSOLE", L"CONSOLE"},
      {L"COM0 is none", L"COM0", L"COM0"},
      {L"too long", longName, std::wstring(kMaxGroupFolderName, L'x')},
      {L"too long device name", L"PRN." + longName, L"_PRN." + std::wstring(kMaxGroupFolderName - 5, L'x')},
      {L"cut before a trailing dot", std::wstring(kMaxGroupFolderName - 1, L'y') + L". tail",
       std::wstring(kMaxGroupFolderName - 1, L'y')},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SafeFolderName(row.name), row.folder) << row.why;
  }
}

groups::TreeGroup Group(uint16_t id, int depth, const wchar_t* name, const wchar_t* guid) {
  groups::TreeGroup group;
  group.id = id;
  group.depth = depth;
  group.name = name;
  group.guid = guid;
  return group;
}

TEST(GroupFoldersTest, FoldersMirrorTheTreeAndSiblingsThatCollideGetTheirGuids) {
  const std::vector<groups::TreeGroup> tree = {
      Group(1, 0, L"Default", L"{G1}"),     Group(2, 0, L"Kiosk.", L"{G2}"),
      Group(3, 1, L"Sales\\East", L"{G3}"), Group(4, 2, L"CON", L"{G4}"),
      Group(5, 1, L"sales_east", L""),      Group(6, 0, L"kiosk", L"{G6}"),
      Group(7, 1, L"Sales\\East", L"{G7}"), Group(8, 0, L"Other", L"{G8}"),
      Group(9, 1, L"Sales\\East", L"{G9}"),
  };
  const std::vector<std::wstring> expected = {
      L"Default",
      L"Kiosk {G2}",  // collides with "kiosk" at the top: each gets its GUID
      L"Kiosk {G2}\\Sales_East {G3}",
      L"Kiosk {G2}\\Sales_East {G3}\\_CON",
      L"Kiosk {G2}\\sales_east 5",  // no valid GUID: its ID
      L"kiosk {G6}",
      L"kiosk {G6}\\Sales_East",  // a different parent: no collision
      L"Other",
      L"Other\\Sales_East",
  };
  EXPECT_EQ(GroupFolders(tree), expected);
}

}  // namespace
