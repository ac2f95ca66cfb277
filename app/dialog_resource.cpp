// Dialog 129: the main dialog's controls in resource order, which is also the
// tab order. Positions and sizes are dialog units.
#include "app/dialog_resource.h"

#include "app/shell_state.h"

namespace {

constexpr uint32_t EditStyles = StyleBorder | StyleAutoHorizontalScroll | StyleTabStop;

const ControlTemplate mainDialogControls[] = {
    {StartButton, ControlKind::DefaultPushButton, StartCaption, 145, 67, 59, 21, StyleTabStop},
    {SourceFolderEdit, ControlKind::Edit, "", 7, 17, 198, 13, EditStyles},
    {OutputPathEdit, ControlKind::Edit, "", 7, 47, 198, 13, EditStyles},
    {ControlIdNone, ControlKind::Label, "VUDデータの場所 :", 7, 7, 132, 8, StyleGroup},
    {ControlIdNone, ControlKind::Label, "作成データ出力先 :", 7, 37, 132, 8, StyleGroup},
    {BrowseSourceButton, ControlKind::PushButton, "参照", 165, 6, 40, 11, StyleTabStop},
    {BrowseOutputButton, ControlKind::PushButton, "参照", 165, 36, 40, 11, StyleTabStop},
    {ProgressBar, ControlKind::ProgressBar, "", 7, 97, 179, 8, StyleBorder},
    // The height includes the opened list.
    {BitRateList, ControlKind::DropDownList, "", 7, 76, 48, 105,
     StyleVerticalScroll | StyleTabStop},
    {ControlIdNone, ControlKind::Label, "ビットレート :", 8, 66, 48, 10, StyleGroup},
    {PercentText, ControlKind::Label, "0%", 189, 97, 15, 9, StyleRightAligned | StyleGroup},
    // Filled with the encoder library's version at initialisation.
    {VersionLine, ControlKind::Label, "", 4, 114, 204, 8, StyleRightAligned | StyleGroup},
};

}  // namespace

const DialogTemplate mainDialogTemplate = {
    MainDialogResourceId,
    ApplicationName,  // replaced by "<name> Ver.<version>" at initialisation
    "ＭＳ Ｐゴシック",
    9,
    211,
    125,
    mainDialogControls,
    static_cast<int32_t>(sizeof(mainDialogControls) / sizeof(mainDialogControls[0])),
    ApplicationIconResourceId,
};
