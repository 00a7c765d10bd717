// The main window's template: every control with its identifier, kind, text and rectangle in
// dialog units, the menu commands and the anchors of the resize layout.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/dialog_units.h"

namespace app {

// Control identifiers.
inline constexpr int kIdNone = 0;
inline constexpr int kIdPathBox = 1000;
inline constexpr int kIdBrowse = 1001;
inline constexpr int kIdScanFile = 1002;
inline constexpr int kIdFolderTree = 1003;
inline constexpr int kIdItemList = 1004;
inline constexpr int kIdSave = 1007;
inline constexpr int kIdPreview = 1008;
inline constexpr int kIdProgress = 1009;
inline constexpr int kIdRightBanner = 1010;
inline constexpr int kIdAttachmentValue = 1014;
inline constexpr int kIdAttachmentLabel = 1015;
inline constexpr int kIdToLabel = 1016;
inline constexpr int kIdToValue = 1017;
inline constexpr int kIdDateLabel = 1018;
inline constexpr int kIdDateValue = 1019;
inline constexpr int kIdFromValue = 1020;
inline constexpr int kIdSubjectValue = 1021;
inline constexpr int kIdStop = 1022;
inline constexpr int kIdStatusLine = 1025;
inline constexpr int kIdMailFormat = 1026;
inline constexpr int kIdRecover = 1027;

// Menu commands.
inline constexpr int kCmdSelectFile = 32771;
inline constexpr int kCmdRepair = 32772;
inline constexpr int kCmdSave = 32773;
inline constexpr int kCmdExit = 32774;
inline constexpr int kCmdHelpTopic = 32775;
inline constexpr int kCmdAbout = 32776;
inline constexpr int kCmdFilter = 32777;
// The About item that extends the window menu.
inline constexpr int kCmdSystemAbout = 16;

enum class ControlKind {
    kBitmap,
    kLabel,
    kTransparentLabel,
    kEdit,
    kButton,
    kTree,
    kList,
    kBrowser,
    kProgress,
};

struct TemplateControl {
    int id;
    ControlKind kind;
    std::u16string_view text;
    DialogRect rect;
    // For bitmaps: the bitmap resource.
    int resource;
};

// The window's size in dialog units.
inline constexpr DialogRect kDialogRect{0, 0, 593, 375};

inline constexpr std::array<TemplateControl, 23> kMainTemplate = {{
    {kIdNone, ControlKind::kBitmap, u"", {1, 0, 395, 63}, 132},
    {kIdRightBanner, ControlKind::kBitmap, u"", {396, 0, 195, 63}, 133},
    {kIdNone, ControlKind::kLabel, u"Select Exchange Database File : ", {5, 70, 111, 14}, 0},
    {kIdPathBox, ControlKind::kEdit, u"", {121, 68, 155, 18}, 0},
    {kIdBrowse, ControlKind::kButton, u"Browse", {289, 67, 61, 19}, 0},
    {kIdScanFile, ControlKind::kButton, u"Scan File", {353, 67, 58, 19}, 0},
    {kIdStop, ControlKind::kButton, u"Stop", {414, 67, 58, 19}, 0},
    {kIdSave, ControlKind::kButton, u"Save", {475, 67, 53, 19}, 0},
    {kIdFolderTree, ControlKind::kTree, u"", {2, 89, 155, 266}, 0},
    {kIdItemList, ControlKind::kList, u"", {160, 89, 428, 101}, 0},
    {kIdNone, ControlKind::kLabel, u"From:", {162, 193, 26, 9}, 0},
    {kIdFromValue, ControlKind::kTransparentLabel, u"", {196, 194, 277, 9}, 0},
    {kIdToLabel, ControlKind::kLabel, u"To:", {162, 203, 14, 11}, 0},
    {kIdToValue, ControlKind::kTransparentLabel, u"", {194, 203, 392, 9}, 0},
    {kIdNone, ControlKind::kLabel, u"Subject: ", {162, 213, 33, 8}, 0},
    {kIdSubjectValue, ControlKind::kTransparentLabel, u"", {197, 213, 389, 9}, 0},
    {kIdDateLabel, ControlKind::kLabel, u"Date:", {483, 194, 20, 8}, 0},
    {kIdDateValue, ControlKind::kTransparentLabel, u"", {507, 193, 79, 9}, 0},
    {kIdAttachmentLabel, ControlKind::kLabel, u"Attachment Name:", {161, 223, 67, 11}, 0},
    {kIdAttachmentValue, ControlKind::kTransparentLabel, u"", {230, 222, 356, 10}, 0},
    {kIdPreview, ControlKind::kBrowser, u"", {160, 235, 428, 103}, 0},
    {kIdProgress, ControlKind::kProgress, u"", {160, 341, 148, 13}, 0},
    {kIdStatusLine, ControlKind::kTransparentLabel, u"", {312, 342, 273, 13}, 0},
}};

// The choice beside Save of how mail is saved: ".msg" (first) or ".eml".
inline constexpr DialogRect kMailFormatRect{531, 67, 53, 19};
// The check box above Scan File that makes the next scan recover a damaged store.
inline constexpr DialogRect kRecoverRect{353, 53, 119, 12};
inline constexpr char16_t kRecoverCaption[] = u"Recover a damaged store";

struct TemplateAnchor {
    int id;
    std::uint32_t flags;
};

// The anchored controls, in the order they are entered; all others keep their place (the
// preview pane is placed by the window itself).
inline constexpr std::array<TemplateAnchor, 15> kMainAnchors = {{
    {kIdItemList, 0xD0},
    {kIdRightBanner, 0xD0},
    {kIdFolderTree, 0x70},
    {kIdProgress, 0xE0},
    {kIdStatusLine, 0xA0},
    {kIdPathBox, 0xD0},
    {kIdBrowse, 0x90},
    {kIdScanFile, 0x90},
    {kIdSave, 0x90},
    {kIdStop, 0x90},
    {kIdMailFormat, 0x90},
    {kIdRecover, 0x90},
    {kIdToLabel, 0xD0},
    {kIdDateLabel, 0xD0},
    {kIdToValue, 0xD0},
}};

}  // namespace app
