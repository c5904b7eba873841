// Image > Capture through INDI…: the picture taken opens as Open image's
// would, and Find trail follows when the dialog asks for it.
#include "app/Unit1.h"

#include <QFileInfo>

#include "app/capture/CaptureDialog.h"

namespace vinsk {

void TVinsk_main::CaptureClick()
{
    TCaptureDefaults defaults;
    defaults.Seconds = FState.Experiment.ExposureTime;
    defaults.StepsPerWorm = TabSheet4->Settings().StepsPerWorm;
    if (!OPD.FileName.isEmpty())
        defaults.Folder = QFileInfo(OPD.FileName).absolutePath();
    TCaptureDialog dialog(this, defaults, &FDialogs);
    if (dialog.exec() != QDialog::Accepted)
        return;
    OpenPictureFile(dialog.PicturePath());
    if (dialog.FindTrailAfterwards())
        FindTrailClick();
}

} // namespace vinsk
