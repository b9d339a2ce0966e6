#pragma once
// The context menu's decisions that need no window: when entries are added,
// which entries go into the submenu under which identifiers, what a chosen
// command does, how icons are drawn on which Windows, and which paths the
// extension deals with at all.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ExtensionConfig.h"
#include "Labels.h"

namespace pelko {

// QueryContextMenu adds entries for CMF_NORMAL, CMF_EXPLORE and
// CMF_EXPLORE | CMF_NOVERBS (low four bits 0, 4 or 12), never for
// default-only or verbs-only menus.
bool ContextMenuAddsEntries(std::uint32_t flags);

struct PlannedEntry {
  const MenuEntry* entry;
  std::uint32_t offset;  // the identifier is the first granted one plus this
};

struct SubmenuPlan {
  std::vector<PlannedEntry> entries;  // in MenuID order, separators included
  std::uint32_t result = 0;           // the HRESULT code QueryContextMenu returns
};

// The submenu for a model when Explorer granted identifiers first..last:
// entries in ascending MenuID, without MenuID 0 (the top entry), and
// without entries whose MenuID is negative or beyond the granted range,
// which would collide with other handlers' commands. The result is the
// larger of the entries placed plus 2 and the highest offset used plus 1.
SubmenuPlan PlanSubmenu(const MenuModel& model, std::uint32_t firstId, std::uint32_t lastId);

enum class MenuCommand { ClearLabel, SetLabel, ManageLabels, ShowAbout, None };

struct CommandAction {
  MenuCommand command = MenuCommand::None;
  LabelValue label = kNoLabel;
};

// What the command at an offset does, whatever entry carries it.
CommandAction CommandForOffset(std::uint32_t offset);

// The manager's command lines.
inline constexpr char16_t kManageLabelsCommandLine[] = u"ManageLabels";
inline constexpr char16_t kAboutCommandLine[] = u"About About";

enum class MenuIconPath { Bitmap, OwnerDraw, CheckMark };

// osVersion is major * 256 + minor.
MenuIconPath IconPathFor(std::uint16_t osVersion, std::uint32_t flags);

enum class CommandStringReply {
  Invalid,       // E_INVALIDARG (GCS_VERBA, GCS_VALIDATEA)
  Validate,      // GCS_VALIDATEW: nothing is written; S_OK for a known entry, else S_FALSE
  UnicodeText,   // GCS_HELPTEXTW, GCS_VERBW
  AnsiText,      // GCS_HELPTEXTA
};
CommandStringReply CommandStringReplyFor(std::uint32_t requestType);

// Case folding of the Win32 side (tests pass an ASCII one).
using CaseFolder = char16_t (*)(char16_t unit);

// False for shortcut files (".lnk", case ignored) and for items in an
// excluded folder: the folder is compared ignoring case and must end there
// or be followed by a backslash (C:\Windows.old is not inside C:\Windows).
bool IsSupportedPath(std::u16string_view path, const std::vector<std::u16string>& excludedFolders, CaseFolder fold);

// The menu and the overlays leave out paths shorter than 6 units (C:\ and the like).
inline bool MeetsLengthRule(std::u16string_view path) { return path.size() >= 6; }

}  // namespace pelko
